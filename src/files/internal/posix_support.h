#pragma once

#include "core/file_handle.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <sys/types.h>

namespace tampod::PosixSupport {

// Throws the POSIX error `code` (SystemError) for the named operation.
[[noreturn]] void fail(int code, const char *operation);

// The local path of a file URL; anything that is not a file URL fails with EACCES, since no
// check below could vouch for it.
QByteArray nativePath(const QUrl &url);
QString localPath(const QUrl &url);

// The folder part and the last component of a cleaned absolute path; an empty name, "." or
// ".." fails with EINVAL.
QString parentPath(const QString &path);
QString lastComponent(const QString &path);

// open/openat with O_CLOEXEC; -1 with errno on failure. Retries EINTR.
int openAt(int dirFd, const QByteArray &name, int flags, mode_t mode = 0);

// fsync that reports its own errno (EIO when the system gave none).
void syncDescriptor(int fd);

// Makes a folder with exactly `mode`, whatever the umask, relative to dirFd. The folder is
// checked and chmod-ed through a no-follow descriptor, so a swapped name is never changed.
void makePrivateDirectory(int dirFd, const QByteArray &name, mode_t mode = 0700);

// Writes bytes to dirFd/name through a temporary file in the same folder that is flushed,
// renamed over name and followed by a flush of the folder, so a reader sees the old record or
// the whole new one even after a power loss. The file is made 0600. The temporary name is
// "." + name + ".tmp-" + a random suffix; only a crash in the middle leaves one behind.
void writeAtomically(int dirFd, const QByteArray &name, const QByteArray &bytes);

// Whether name is a temporary file that writeAtomically left behind when it was interrupted:
// for finalName, or for any final name when finalName is empty.
bool isAtomicWriteLeftover(const QByteArray &name, const QByteArray &finalName = {});

// Creates dirFd/name exclusively (never replacing, never following a link), writes and
// flushes it, then flushes the folder.
void writeExclusively(int dirFd, const QByteArray &name, const QByteArray &bytes);

// A folder opened read-only, no-follow, directory-only; a failure throws errno.
FileHandle openDirectoryNoFollow(int dirFd, const QByteArray &name);

} // namespace tampod::PosixSupport
