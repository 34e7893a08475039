#pragma once

#include "core/file_handle.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tampod {

class Folder;

// A lock file of this user held with an exclusive flock for as long as the object lives; the
// system lets the lock go when the holder ends, however it ends, so a crash never leaves it
// taken. The file itself stays: removing a lock file would let two holders lock two files.
class LockFile {
public:
    // Opens path (made 0600 if missing, never through a link) and takes the lock without
    // waiting; none when another open of the file holds it. Throws SystemError when path is
    // no regular file of this user or cannot be opened.
    static std::optional<LockFile> take(const QString &path);
    // The same for the file name in folder, opened through the folder's descriptor.
    static std::optional<LockFile> take(const Folder &folder, const QByteArray &name);

private:
    explicit LockFile(FileHandle file) : file_(std::move(file)) {}

    static std::optional<LockFile> lock(FileHandle file);

    FileHandle file_;
};

} // namespace tampod
