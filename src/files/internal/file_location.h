#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace tampod::FileLocation {

// Entries examined when looking for a renamed file in its folder.
inline constexpr int folderScanLimit = 50'000;

// The "dev:ino" reference of the file at a path (following links); nullopt when nothing is there.
std::optional<QString> reference(const QString &path);

// The path of the file a reference names: the hint path when it still holds that file,
// otherwise the entry of the hint's folder that does (a rename within the folder).
std::optional<QString> resolve(const QString &reference, const QString &hintPath);

// The first entry of a folder, within folderScanLimit entries, whose inode number is inode
// and whose full path satisfies accept.
std::optional<QString> findInFolder(const QString &folder, std::uint64_t inode,
                                    const std::function<bool(const QString &path)> &accept);

// Calls visit with each entry's name and inode number (not "." or ".."), within limit entries,
// until it returns true; returns whether it did. dirFd is the open folder, for *at() calls.
bool visitFolder(const QString &folder, int limit,
                 const std::function<bool(int dirFd, const char *name, std::uint64_t inode)> &visit);

// Whether this process may read the file, by its effective ids.
bool isReadable(const QString &path);

// The folder of a path ("/a/b/c" → "/a/b").
QString folderOf(const QString &path);

} // namespace tampod::FileLocation
