#pragma once

// One in-memory file per fuzz target, refilled for every input, so that readers that take a
// path run on the input without touching the disk.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

// The path of the in-memory file, now holding exactly the input.
inline QString memoryFile(const std::uint8_t *data, size_t size)
{
    static const int fd = [] {
        const int made = memfd_create("fuzz_input", MFD_CLOEXEC);
        if (made < 0)
            std::abort();
        return made;
    }();
    if (ftruncate(fd, 0) != 0)
        std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
    return QStringLiteral("/proc/self/fd/") + QString::number(fd);
}

} // namespace fuzz
