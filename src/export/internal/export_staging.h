#pragma once

#include "files/store/temporary_audio_store.h"
#include "export/shared_export_staging.h"
#include "files/store/temporary_export_directory.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace tampod {

// The staging folder of one export beside its destination, removed when the export ends on
// every path, success included (its "tampod-owner.json" and session record go with it).
// An export whose destination already lies in another export's staging folder (a render, a
// channel of a pair) stages beside it in that folder instead, under names that begin with the
// destination's: one folder per export, which the next launch's cleanup settles as a whole.
// Given a batch's shared folder, an export stages there the same way, under a prefix of its own.
class ExportStaging {
public:
    using StoreProvider = std::function<TemporaryAudioStore &()>;

    // AudioExportError storage when the store or the folder cannot be made.
    ExportStaging(const StoreProvider &store, const QUrl &destination, bool insideStaging = false,
                  SharedExportStaging *shared = nullptr);
    ~ExportStaging();
    ExportStaging(const ExportStaging &) = delete;
    ExportStaging &operator=(const ExportStaging &) = delete;

    const TemporaryExportDirectory &directory() const { return directory_; }
    QString path(const QString &name) const;
    // From now on the folder is left for the launch cleanup (a pair whose recovery failed).
    void keep() { kept_ = true; }

private:
    TemporaryExportDirectory directory_;
    QString prefix_;           // in another export's or the batch's folder: that folder and a name
    mutable QStringList made_; // files named there, removed at the end
    bool kept_ = false;
};

namespace ExportPublication {

// Flushes the finished staged file and moves it onto the destination with a rename that never
// replaces, and flushes the destination folder: AudioExportError destinationExists when the
// name is taken (a dangling link included), storage for any other failure.
void publish(const QString &staged, const QUrl &destination);

} // namespace ExportPublication

namespace ExportFailure {

// Runs a step of the audio layer: an AudioFileError becomes native(step, its status), a
// system error storage; errors of our own (export, cancellation) pass through.
void step(const QString &name, const std::function<void()> &work);

} // namespace ExportFailure

} // namespace tampod
