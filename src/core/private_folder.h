#pragma once

#include "core/folder.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace tampod {

// A folder that is this user's alone: owned by the effective user with mode 0700, opened
// without following a link, checked on the open descriptor (never on the path, which could be
// swapped between a check and a use). Nobody else can read, add or replace what is in it.
// Names in it are reached through the descriptor's own path ("/proc/self/fd/N/name"): short
// however long the folder's path is, and always this folder.
class PrivateFolder {
public:
    // The folder at path, made (0700, whatever the umask) when missing and makeMissing is set;
    // none when it is not the user's alone, cannot be opened, or cannot be reached through its
    // descriptor.
    static std::optional<PrivateFolder> open(const QString &path, bool makeMissing = false);
    // The path of a folder named for this user in parent: stem, a dash, the user id.
    static QString pathForUser(const QString &parent, const QString &stem);

    const Folder &folder() const { return folder_; }
    // The path of name in the folder, through the descriptor.
    QString pathOf(const QByteArray &name) const;

private:
    explicit PrivateFolder(Folder folder) : folder_(std::move(folder)) {}

    static bool isPrivate(const Folder &folder);

    Folder folder_;
};

} // namespace tampod
