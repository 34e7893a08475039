#pragma once

#include "core/file_handle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace tampod {

// An open folder: a directory descriptor and the path it was opened by. Every file-system
// call relative to it uses the descriptor (the *at calls), so a folder renamed or swapped for
// a link after opening never redirects what we create, read or remove. Names are native bytes
// (one component each, as a directory listing gives them); paths are texts.
class Folder {
public:
    Folder() = default;

    // Opens a folder; with NoFollow a link at the last component is refused (ELOOP).
    static Folder open(const QString &path, LinkPolicy links = LinkPolicy::Follow);
    // A sub-folder, never through a link.
    Folder openSubfolder(const QByteArray &name) const;

    bool isOpen() const noexcept { return handle_.isOpen(); }
    int fd() const noexcept { return handle_.fd(); }
    const QString &path() const noexcept { return path_; }
    QString pathOf(const QByteArray &name) const;

    // openat with the flags as given (O_CLOEXEC added).
    FileHandle openFile(const QByteArray &name, int flags, mode_t mode = 0600) const;
    // An outside regular file in this folder (see FileHandle::openOutside).
    FileHandle openOutside(const QByteArray &name, LinkPolicy links = LinkPolicy::NoFollow) const;
    // A new file, O_CREAT|O_EXCL|O_NOFOLLOW: never replaces or follows anything.
    FileHandle createExclusive(const QByteArray &name, int accessFlags = O_WRONLY,
                               mode_t mode = 0600) const;

    // Writes name through a flushed temporary file renamed over it, then flushes the folder,
    // so a reader sees the old record or the whole new one even after a power loss. The file
    // is 0600; only a crash in the middle leaves a temporary behind (isAtomicWriteLeftover).
    void writeAtomically(const QByteArray &name, const QByteArray &bytes) const;
    // Creates name exclusively, writes and flushes it, then flushes the folder.
    void writeExclusively(const QByteArray &name, const QByteArray &bytes) const;
    // Whether name is a temporary that writeAtomically left behind: for finalName, or for any
    // final name when finalName is empty.
    static bool isAtomicWriteLeftover(const QByteArray &name, const QByteArray &finalName = {});

    // Makes a sub-folder with exactly mode, whatever the umask, and opens it.
    Folder makePrivateFolder(const QByteArray &name, mode_t mode = 0700) const;

    // The status of an entry; nullopt when nothing is there (other failures throw).
    std::optional<struct stat> status(const QByteArray &name, LinkPolicy links) const;
    void sync() const;

    // Calls visit with each entry (not "." or ".."), within limit entries, until it returns
    // true; returns whether it did.
    struct Entry {
        const char *name;
        std::uint64_t inode;
        unsigned char type; // DT_* or DT_UNKNOWN

        // The type bits of st_mode (S_IFREG, S_IFDIR, S_IFLNK…) the listing gives; 0 when it
        // gives none and only a status call can tell.
        mode_t listedType() const;
    };
    bool visitEntries(int limit, const std::function<bool(const Entry &)> &visit) const;

private:
    Folder(FileHandle handle, QString path) : handle_(std::move(handle)), path_(std::move(path)) {}

    FileHandle handle_;
    QString path_;
};

} // namespace tampod
