#pragma once

#include "core/folder.h"
#include "files/access/source_file_identity.h"

#include <QUrl>

#include <optional>

namespace tampod {

// Descriptor-based checks under the publication of a split-channel pair and its recovery:
// nothing is followed through a link, each folder is opened once and then used only through
// its descriptor, every entry must be the user's, and a mismatch is EACCES, never repaired.
namespace SplitExportFileSafety {

// Opens a folder (no-follow, directory only) and confirms that it is the user's folder the
// path names and, when given, the recorded one (inode, birth time and generation; the volume
// text is not compared). Failures throw EACCES; the path status query's error passes on.
Folder openDirectory(const QUrl &url, const std::optional<SourceFileIdentity> &identity = std::nullopt);

// Moves a staged file into its destination folder without ever replacing an entry there:
// AudioExportError destinationExists when the name is taken (even by a dangling link), EXDEV
// across file systems, otherwise the rename's POSIX error. The destination folder is flushed
// afterwards, and the source folder too unless flushSource is false.
void publish(const QUrl &source, const QUrl &destination, bool flushSource = true);

// The exclusive rename relative to two folder descriptors: renameat2(RENAME_NOREPLACE), or
// where the file system lacks it, a hard link under the new name and removal of the old one.
// Returns 0 or the errno of the failed call.
int renameExclusively(int fromFd, const QByteArray &from, int toFd, const QByteArray &to);
// The fallback alone (for file systems without RENAME_NOREPLACE).
int linkThenUnlink(int fromFd, const QByteArray &from, int toFd, const QByteArray &to);

} // namespace SplitExportFileSafety
} // namespace tampod
