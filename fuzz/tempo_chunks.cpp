// The RIFF/WAVE and FORM/AIFF chunk walks (ID3 chunks, "acid", LIST/INFO) and the MP3 tag
// reader over an arbitrary file, held in an in-memory file so that no disk is touched.
#include "tags/container_tempo_reader.h"
#include "tags/mp3_tempo_metadata.h"
#include "tags/wav_tempo_reader.h"

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
        const int made = memfd_create("tempo_chunks", MFD_CLOEXEC);
        if (made < 0)
            std::abort();
        return made;
    }();
    return fd;
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
    tampod::ContainerTempoReader::read(path, false);
    tampod::ContainerTempoReader::read(path, true);
    tampod::WAVTempoReader::read(path, false);
    tampod::WAVTempoReader::read(path, true);
    tampod::MP3TempoMetadata::read(path);
    return 0;
}
