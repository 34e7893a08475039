#pragma once

#include "import/audio_importer.h"
#include "import/internal/sd2_native_import.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace tampod {

// The working state of one AudioImporter::load call, on the importer's worker.
//
// The files of a folder are examined in two steps. What needs no state of the import (the
// type and size tests, the decoder's verdict, the tempo tag, the SD2 check of a playing file)
// is found out for many files at once on the shared pool; the records are then made one by
// one in order on the importer's worker, which alone calls the REX decoder and the SD2
// recovery. The decoders' short-lived buffers thus stay in the pool threads' memory and never
// pin the memory that holds the records.
class ImportJob {
public:
    using Lease = std::shared_ptr<const FileAccessLease>;

    ImportJob(const AudioImporter::Services &services, QHash<QString, bool> &audioTypes, QSet<QUrl> excluding,
              CancellationToken token);

    // The records in their final order and the refusals in the order they arose; Cancelled
    // as soon as a check point finds the token cancelled.
    AudioImportResult run(const QList<QUrl> &urls);

    // What the pool finds out about one file.
    struct Probe {
        QString path;     // as the walk found it
        QString name;     // its last component
        QUrl resolved;    // links resolved, standardised
        QString extension;
        bool isREX = false;
        bool listed = false; // an audio extension or type
        enum class Verdict { unrecognized, notRegular, rex, decoded, failed } verdict = Verdict::failed;
        std::exception_ptr error; // failed: why
        NativeAudio native;
        bool sd2Candidate = false;
        std::optional<double> bpm;
        AudioSourceFormat format;
        std::optional<SD2NativeImport::Result> check;
    };

private:
    void walkFolder(const QString &path, const Lease &lease);
    // Inspects files in order; folder files are preceded by a cancellation check each.
    void inspect(const QStringList &paths, const Lease &lease, bool folderFiles);
    void probe(Probe &file) const;
    void admit(Probe &file, const Lease &lease);
    void failed(const Probe &file, const std::exception_ptr &error, const Lease &lease);
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
