#pragma once

#include "library/temporary_audio_safety.h"

#include <QByteArray>
#include <QUrl>

namespace tampod {

// What lets a later launch reach a folder again: its path and the identity it had, as JSON
// bytes {"path": text, "identity": {"device", "inode"}}. Records store the bytes as Base64.
struct FolderBookmark {
    QString path;
    TemporaryAudioSafety::Identity identity;

    // The bookmark of a real folder (a link fails); throws the POSIX error of the check.
    static QByteArray make(const QUrl &folder);
    // Decodes bookmark bytes; malformed bytes throw JsonError.
    static FolderBookmark decode(const QByteArray &bytes);

    struct Resolved {
        QUrl url;
        bool stale = false; // something else, or nothing that can be examined, is at the path now
    };
    Resolved resolve() const;
};

} // namespace tampod
