#pragma once

#include "import/audio_importer.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>

namespace tampod {

// The working state of one AudioImporter::load call, on the importer's worker.
class ImportJob {
public:
    using Lease = std::shared_ptr<const FileAccessLease>;

    ImportJob(const AudioImporter::Services &services, QHash<QString, bool> &audioTypes, QSet<QUrl> excluding,
              CancellationToken token);

    // The records in their final order and the refusals in the order they arose; Cancelled
    // as soon as a check point finds the token cancelled.
    AudioImportResult run(const QList<QUrl> &urls);

private:
    void walkFolder(const QString &path, const Lease &lease);
    void inspect(const QString &path, const Lease &lease);
    bool admitSD2(const QUrl &resolved, const Lease &lease);
    void finish();

    bool conformsToAudio(const QString &extension);
    void refuse(const QString &name, const QString &reason);
    AudioTrack newRecord(const QUrl &resolved, const Lease &lease) const;

    const AudioImporter::Services &services_;
    QHash<QString, bool> &audioTypes_;
    const CancellationToken token_;
    AudioImportResult result_;
    QSet<QUrl> seen_;
    int scanned_ = 0;
};

} // namespace tampod
