#pragma once

#include "core/strict_json.h"
#include "files/access/source_file_identity.h"
#include "files/store/temporary_audio_store.h"
#include "files/store/temporary_export_directory.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
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
        SourceFileIdentity identity;
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
        SourceFileIdentity directory;
        QByteArray bookmark;
        std::vector<File> files;

        // Two files with different destination names, every name a plain file name, and the
        // staged names "encoded-" + position + "." as the pair exporter makes them.
        bool isWellFormed() const;

        StrictJson::Json toJson() const;
        static Journal fromJson(const StrictJson::Json &json);
    };

    using BookmarkMaker = std::function<QByteArray(const QUrl &)>;

    // How a journaled publication ended. The values are stored; keep them.
    enum class Outcome {
        nothingPublished = 0, // no file of the pair reached the destination folder
        rolledBack = 1,       // what had been published was taken back and deleted
        completed = 2,        // both files are in the destination folder, committed
    };

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

    // Brings an interrupted publication to an end from the stage's journal: both files in the
    // destination folder and committed, or every file of the pair that had been published
    // moved back into the stage and deleted. Nothing that is not exactly a journaled file is
    // ever deleted or replaced. No outcome when the stage holds no journal. Throws a POSIX error
    // (or the journal's decoding error) whenever the pair cannot be settled safely; everything
    // is then left so that the same call can run again later. Removes neither the journal,
    // the markers nor the stage.
    static std::optional<Outcome> recover(const QUrl &stage, const TemporaryAudioStore::Owner &owner);

    // Whether anything is at the path (links not followed); other failures throw their code.
    static bool exists(const QUrl &url);
    // Whether the named marker exists in the stage holding this owner; another owner is EINVAL.
    static bool marker(const char *name, const QUrl &stage, const TemporaryAudioStore::Owner &owner);

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
