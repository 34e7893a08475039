#pragma once

// Scenes and helpers shared by the files module's tests.
#include "files/journal/split_export_file_safety.h"
#include "files/journal/split_export_transaction.h"
#include "files/store/temporary_audio_store.h"
#include "files/temporary_audio_cleanup.h"
#include "support/file_fixtures.h"

namespace tampod::TemporaryAudioCleanup {

inline void PrintTo(const Report &r, std::ostream *out)
{
    *out << "{removed " << r.removed << ", active " << r.active << ", retained " << r.retained << ", errors "
         << r.errors << ", recovered " << r.recoveredPairs << ", pending " << r.pendingPairs << ", limited "
         << r.limited << ", codes " << r.failureCodes.join(',').toStdString() << "}";
}

} // namespace tampod::TemporaryAudioCleanup

namespace tampod::test {

inline TemporaryAudioSafety::Identity identityOf(const QString &path)
{
    const struct stat status = lstatOf(path);
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

inline TemporaryAudioCleanup::Report report(int removed, int active, int retained, QStringList codes = {},
                                            int recovered = 0, int pending = 0, bool limited = false)
{
    return {removed, active, retained, int(codes.size()), recovered, pending, limited, std::move(codes)};
}

inline TemporaryAudioCleanup::Report cleanUp(const QString &storeRoot)
{
    return TemporaryAudioCleanup::run(fileUrl(storeRoot), TemporaryAudioCleanup::launchEntryBudget);
}

// Two channel files staged for `folder`, nothing published yet; begun() after begin(): the
// state a split-channel export is in right after it journaled them.
struct StagedPair {
    StagedPair(std::shared_ptr<TemporaryAudioStore> launch, const QString &folder, const QString &stem = "Take")
        : store(std::move(launch))
    {
        stage = store->makeExportDirectory(fileUrl(folder + "/" + stem + ".L.sd2"));
        outputs = {fileUrl(inStage("encoded-0.sd2")), fileUrl(inStage("encoded-1.sd2"))};
        writeFile(inStage("encoded-0.sd2"), leftBytes());
        writeFile(inStage("encoded-1.sd2"), rightBytes());
        destinations = {fileUrl(folder + "/" + stem + ".L.sd2"), fileUrl(folder + "/" + stem + ".R.sd2")};
    }
    StagedPair(const QString &storeRoot, const QString &folder, const QString &stem = "Take")
        : StagedPair(std::make_shared<TemporaryAudioStore>(fileUrl(storeRoot)), folder, stem)
    {
    }

    static QByteArray leftBytes() { return "left channel"; }
    static QByteArray rightBytes() { return "right channel!"; }

    StagedPair &begun()
    {
        SplitExportTransaction::begin(stage, outputs, destinations);
        return *this;
    }
    QString stagePath() const { return stage.url.toLocalFile(); }
    QString inStage(const QString &name) const { return stagePath() + "/" + name; }
    QString destination(int i) const { return destinations[i].toLocalFile(); }

    void publish(int i) const { SplitExportFileSafety::publish(outputs[i], destinations[i]); }
    void mark(const char *marker) const
    {
        SplitExportTransaction::write(stage.owner.toJson(), fileUrl(inStage(QLatin1String(marker))));
    }
    std::optional<SplitExportTransaction::Outcome> recover() const
    {
        return SplitExportTransaction::recover(stage.url, stage.owner);
    }
    // Both channel files at the destination, or neither; never half a pair.
    static void expectBothOrNeither(const QString &stem)
    {
        EXPECT_EQ(exists(stem + ".L.sd2"), exists(stem + ".R.sd2")) << "half a pair";
        if (exists(stem + ".L.sd2")) {
            EXPECT_EQ(readAll(stem + ".L.sd2") + readAll(stem + ".R.sd2"), leftBytes() + rightBytes());
        }
    }
    // The launch that made the pair ends (its session lock is released once no pair of it
    // holds it); its folders stay.
    void abandon() { store.reset(); }

    std::shared_ptr<TemporaryAudioStore> store;
    TemporaryExportDirectory stage;
    QList<QUrl> outputs;
    QList<QUrl> destinations;
};

} // namespace tampod::test
