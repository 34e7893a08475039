#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "library/audio_track.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

namespace tampod {

// One item an import refused: the last path component of the file or folder the reason is
// about, and one complete user sentence.
struct ImportRejection {
    QString name;
    QString reason;

    bool operator==(const ImportRejection &) const = default;
};

// What one import admitted, in its final order, and what it refused, in the order it arose.
struct AudioImportResult {
    QList<AudioTrack> tracks;
    QList<ImportRejection> rejections;
};

// The import as the import queue sees it. The work runs on the importer's own executor;
// co_await the result on the main thread. It never fails: every refusal is a rejection in
// the result. Once token is cancelled it ends with Cancelled and returns nothing, so no part
// of a cancelled import is ever applied.
class AudioImportServing {
public:
    virtual ~AudioImportServing() = default;

    // urls in the given order; excluding: locations already in the library, skipped silently.
    virtual Async<AudioImportResult> load(QList<QUrl> urls, QSet<QUrl> excluding, CancellationToken token) = 0;
};

} // namespace tampod
