#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>

namespace tampod::FileLocation {

// Entries examined when looking for a renamed file in its folder.
inline constexpr int folderScanLimit = 50'000;

// The "dev:ino" reference of the file at a path (following links); nullopt when nothing is there.
std::optional<QString> reference(const QString &path);

// The path of the file a reference names: the hint path when it still holds that file,
// otherwise the entry of the hint's folder that does (a rename within the folder).
std::optional<QString> resolve(const QString &reference, const QString &hintPath);

// The first entry of a folder, within folderScanLimit entries, whose inode number is inode
// and whose full path satisfies accept. None when the folder cannot be read.
std::optional<QString> findInFolder(const QString &folder, std::uint64_t inode,
                                    const std::function<bool(const QString &path)> &accept);

// The folder of a path ("/a/b/c" → "/a/b").
QString folderOf(const QString &path);

// The cleaned absolute path of a file URL; anything else fails with EACCES, since no check
// could vouch for it.
QString localPath(const QUrl &url);
QByteArray nativePath(const QUrl &url);

// The folder and the last component of a cleaned absolute path; an empty name, "." or ".."
// fails with EINVAL.
QString parentPath(const QString &path);
QString lastComponent(const QString &path);

} // namespace tampod::FileLocation
