#pragma once

#include "core/file_handle.h"
#include "files/store/temporary_audio_safety.h"

#include <QUrl>

namespace tampod {

// Holds a session's lock file open with an exclusive, non-blocking flock; destroying the
// object closes the descriptor and so releases the lock. Another process (or another open of
// the same file) trying to lock it fails with EWOULDBLOCK.
class TemporaryAudioLock {
public:
    // create: make the file (exclusively, mode 0600); otherwise open an existing one.
    TemporaryAudioLock(const QUrl &url, bool create);
    TemporaryAudioLock(const TemporaryAudioLock &) = delete;
    TemporaryAudioLock &operator=(const TemporaryAudioLock &) = delete;

    int descriptor() const noexcept { return file_.fd(); }
    const TemporaryAudioSafety::Identity &identity() const noexcept { return identity_; }

private:
    FileHandle file_;
    TemporaryAudioSafety::Identity identity_;
};

} // namespace tampod
