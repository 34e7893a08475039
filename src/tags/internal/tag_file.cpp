#include "tags/internal/tag_file.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace tampod::TagFile {

std::optional<FileHandle> openForReading(const QString &path)
{
    try {
        // O_NONBLOCK keeps open() itself from waiting on a FIFO before the type test below.
        FileHandle file = FileHandle::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        if (!S_ISREG(file.status().st_mode))
            return std::nullopt;
        return file;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tampod::TagFile
