#pragma once

#include <QString>

#include <functional>

namespace tampod {

// Owns the job folder that holds one working copy and removes the folder, with everything in
// it, when the owner goes away. Removal never follows a symbolic link, ignores failures and
// touches no Qt object, so it is safe on whatever thread lets go last. Working copies are
// never held by the audio thread, which only sees decoded samples.
class WorkingCopyFolder {
public:
    using Remover = std::function<void(const QString &folder)>;

    // remover: how the folder is removed; the default removes the tree without following links.
    explicit WorkingCopyFolder(QString folder, Remover remover = {});
    ~WorkingCopyFolder();
    WorkingCopyFolder(const WorkingCopyFolder &) = delete;
    WorkingCopyFolder &operator=(const WorkingCopyFolder &) = delete;

    const QString &path() const { return folder_; }

    // The folder holding a working copy file: the file's path without its last component.
    static QString folderOf(const QString &filePath);
    static void removeTree(const QString &folder);

private:
    QString folder_;
    Remover remover_;
};

} // namespace tampod
