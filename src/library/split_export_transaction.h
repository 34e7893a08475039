#pragma once

#include "core/strict_json.h"
#include "library/journal_file_identity.h"
#include "library/temporary_audio_store.h"
#include "library/temporary_export_directory.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <vector>

namespace tampod {

// The journaled publication of a split-channel pair. Before either channel file is published,
// begin() writes and flushes "tampod-pair.json" into the staging folder (what goes where, and
// exactly which files), and marks the folder's export record as a split pair, so that a crash
// at any later point can be completed or taken back by the recovery from the journal alone.
class SplitExportTransaction {
public:
    // One staged output: its name in the stage, its name in the destination folder, and the
    // identity, size and modification time it had when the journal was written.
    struct File {
        QString staged;
        QString destination;
        JournalFileIdentity identity;
        std::int64_t bytes = 0;
        std::int64_t modifiedSeconds = 0;
        std::int64_t modifiedNanoseconds = 0;

        bool operator==(const File &) const = default;

        StrictJson::Json toJson() const;
        static File fromJson(const StrictJson::Json &json);
    };

    // The content of "tampod-pair.json". Decoding requires every key; the count of files and
    // the names are the recovery's to validate.
    struct Journal {
        TemporaryAudioStore::Owner owner;
        JournalFileIdentity directory;
        QByteArray bookmark;
        std::vector<File> files;

        // Two files with different destination names, every name a plain file name, and the
        // staged names "encoded-" + position + "." as the pair exporter makes them.
        bool isWellFormed() const;

        StrictJson::Json toJson() const;
        static Journal fromJson(const StrictJson::Json &json);
    };

    using BookmarkMaker = std::function<QByteArray(const QUrl &)>;

    // Journals the publication of two staged outputs (directly in the stage) to two
    // destinations (directly in one folder on the stage's volume). Every failure is
    // AudioExportError splitRecoveryUnavailable. Nothing is written before all checks pass;
    // after the journal is written, a failure leaves it (and an unmarked record) for the
    // caller's removal of the stage.
    static SplitExportTransaction begin(const TemporaryExportDirectory &stage, const QList<QUrl> &outputs,
                                        const QList<QUrl> &destinations,
                                        const BookmarkMaker &bookmark = TemporaryAudioStore::defaultBookmark);

    // The guarded writer of journals, markers and records: compact JSON written atomically,
    // with the file flushed before its rename and the folder after it. A link at the final
    // name is replaced, never followed. Errors: the encoder's, or the POSIX error of the step
    // (EIO for a failed flush without a code).
    static void write(const StrictJson::Json &value, const QUrl &url);

    const TemporaryExportDirectory &stage() const noexcept { return stage_; }

    static constexpr char journalName[] = "tampod-pair.json";
    static constexpr char committedMarkerName[] = "tampod-pair-committed.json";
    static constexpr char recoveringMarkerName[] = "tampod-pair-recovering.json";
    static constexpr char unpublishedPrefix[] = "tampod-unpublished-";

private:
    explicit SplitExportTransaction(TemporaryExportDirectory stage) : stage_(std::move(stage)) {}

    TemporaryExportDirectory stage_;
};

} // namespace tampod
