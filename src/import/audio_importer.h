#pragma once

#include "concurrency/serial_executor.h"
#include "core/folder.h"
#include "files/store/temporary_audio_store.h"
#include "import/audio_import_serving.h"
#include "import/native_audio.h"
#include "platform/forks/fork_store.h"
#include "rex/rex_decoder.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

namespace tampod {

// Turns files and folders into library records and refusals. Folders are walked through
// descriptors, never into a link, hidden names skipped; no folder counts as a package. Each
// file is inspected once: REX loops through the REX decoder, files our decoder plays as native
// records, SD2 files from their resource parameters (played from a verified working copy) or
// waiting for recovery.
// An actor: one import at a time on its own worker; the REX decoder and the SD2 recovery
// service it calls run on their own.
class AudioImporter final : public AudioImportServing {
public:
    static constexpr int maximumFiles = 10'000;
    static constexpr int maximumFolderEntries = 50'000;
    static constexpr int maximumWalkErrors = 10'000;

    enum class EntryKind { file, folder, link };

    // What the importer reaches outside itself. Tests replace single parts, chiefly to fault
    // what no real file can.
    struct Services {
        std::shared_ptr<REXDecoder> rex = REXDecoder::shared();
        std::function<TemporaryAudioStore &()> store = &TemporaryAudioStore::shared; // SD2 working copies
        ForkStore forks;
        std::function<NativeAudio(const QString &path, const CancellationToken &)> openNative = &NativeAudio::open;
        // The kind of a folder entry, without following a link; throws when it cannot be read.
        std::function<EntryKind(const Folder &, const Folder::Entry &)> entryKind = &AudioImporter::entryKind;
    };

    // The 21 lower-case extensions that always count as audio files.
    static const QSet<QString> &audioExtensions();
    static EntryKind entryKind(const Folder &folder, const Folder::Entry &entry);

    AudioImporter();
    explicit AudioImporter(Services services);

    Async<AudioImportResult> load(QList<QUrl> urls, QSet<QUrl> excluding, CancellationToken token) override;

private:
    const Services services_;
    QHash<QString, bool> audioTypes_; // thread: executor_ only. Whether an extension's type is audio.
    SerialExecutor executor_;         // last: its destructor finishes queued jobs before the rest goes
};

} // namespace tampod
