#pragma once

#include "files/store/temporary_audio_safety.h"

#include <QString>

#include <optional>

namespace tampod {

// Owns the job folder that holds one working copy and removes it, with everything in it, when
// the owner goes away. The folder's identity is taken when ownership starts, and removal goes
// through the store's safety primitives: it never follows a link and leaves alone a folder that
// was swapped meanwhile. Failures are ignored (the next launch's cleanup sweeps what is left).
// Plain system calls only, so it is safe on whatever thread lets go last; working copies are
// never held by the audio thread, which only sees decoded samples.
class WorkingCopyFolder {
public:
    explicit WorkingCopyFolder(QString folder);
    ~WorkingCopyFolder();
    WorkingCopyFolder(const WorkingCopyFolder &) = delete;
    WorkingCopyFolder &operator=(const WorkingCopyFolder &) = delete;

    const QString &path() const { return folder_; }

    // The folder holding a working copy file: the file's path without its last component.
    static QString folderOf(const QString &filePath);

private:
    QString folder_;
    std::optional<TemporaryAudioSafety::Identity> identity_;
};

} // namespace tampod
