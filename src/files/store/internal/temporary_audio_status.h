#pragma once

#include "files/internal/file_status.h"
#include "files/store/temporary_audio_safety.h"

#include <QUrl>

// The store's checks that take the files module's own status record, which stays out of the
// public header so that its users never compile against it.
namespace tampod::TemporaryAudioSafety {

inline Identity identityOf(const FileStatus &status)
{
    return {status.device, status.inode};
}

// The status of the path itself (a link is described, not followed). Any failure, a missing
// path included, or another user's entry throws EACCES.
FileStatus info(const QUrl &url);

} // namespace tampod::TemporaryAudioSafety
