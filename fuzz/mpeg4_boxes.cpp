// The MPEG-4 box model: splitting arbitrary bytes into boxes, and the tempo reader and the
// in-place writer over an arbitrary file held in memory.
#include "tags/internal/mpeg4_boxes.h"
#include "tags/m4a_tempo_metadata.h"

#include <QByteArray>
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
        const int made = memfd_create("mpeg4_boxes", MFD_CLOEXEC);
        if (made < 0)
            std::abort();
        return made;
    }();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    try {
        tampod::Mpeg4Boxes::boxes(QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    } catch (...) {
    }

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
    tampod::M4ATempoMetadata::read(path);
    try {
        tampod::M4ATempoMetadata::write(97.5, path);
        tampod::M4ATempoMetadata::read(path);
    } catch (...) {
    }
    return 0;
}
