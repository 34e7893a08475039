// The FLAC metadata block list and Vorbis comment walks: reading, the stream format and the
// tagged copy over an arbitrary file. A copy that succeeds must read back its tempo.
#include "tags/flac_tempo_metadata.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile()
{
    static const int fd = [] {
        const int made = memfd_create("flac_metadata", MFD_CLOEXEC);
        if (made < 0)
            std::abort();
        return made;
    }();
    return fd;
}

const QString &copyPath()
{
    static const QString path = [] {
        char folder[] = "/tmp/fuzz_flac_metadata.XXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        return QString::fromLocal8Bit(folder) + QStringLiteral("/tagged.flac");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const int fd = memoryFile();
    if (ftruncate(fd, 0) != 0)
        std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    const QString path = QStringLiteral("/proc/self/fd/") + QString::number(fd);
    tampod::FLACTempoMetadata::read(path);
    tampod::FLACTempoMetadata::sourceFormat(path);

    const QByteArray copy = copyPath().toLocal8Bit();
    unlink(copy.constData());
    bool copied = false;
    try {
        tampod::FLACTempoMetadata::copyTagging(path, copyPath(), 120.5);
        copied = true;
    } catch (...) {
    }
    if (copied && tampod::FLACTempoMetadata::read(copyPath()) != 120.5)
        std::abort();
    unlink(copy.constData());
    return 0;
}
