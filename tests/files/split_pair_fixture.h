#pragma once

#include "file_safety_fixtures.h"

#include "files/journal/split_export_file_safety.h"
#include "files/journal/split_export_transaction.h"
#include "files/temporary_audio_cleanup.h"
#include "files/store/temporary_audio_store.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QMap>

namespace tampod::TemporaryAudioCleanup {

inline void PrintTo(const Report &r, std::ostream *out)
{
    *out << "{removed " << r.removed << ", active " << r.active << ", retained " << r.retained << ", errors "
         << r.errors << ", recovered " << r.recoveredPairs << ", pending " << r.pendingPairs << ", limited "
         << r.limited << ", codes " << r.failureCodes.join(',').toStdString() << "}";
}

} // namespace tampod::TemporaryAudioCleanup

namespace tampod::test {

// Two channel files staged for `folder` and journaled, nothing published yet: the state a
// split-channel export is in right after it began its journal.
struct JournaledPair {
    JournaledPair(const QString &storeRoot, const QString &folder, const QString &stem = QStringLiteral("Take"))
        : JournaledPair(std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(storeRoot)), folder, stem)
    {
    }
    // Another pair of the same launch.
    JournaledPair(std::shared_ptr<TemporaryAudioStore> launch, const QString &folder, const QString &stem)
        : store(std::move(launch))
    {
        const QString left = folder + "/" + stem + ".L.sd2";
        stage = store->makeExportDirectory(QUrl::fromLocalFile(left));
        outputs = {fileUrl(inStage("encoded-0.sd2")), fileUrl(inStage("encoded-1.sd2"))};
        writeFile(inStage("encoded-0.sd2"), leftBytes());
        writeFile(inStage("encoded-1.sd2"), rightBytes());
        destinations = {fileUrl(left), fileUrl(folder + "/" + stem + ".R.sd2")};
        SplitExportTransaction::begin(stage, outputs, destinations);
    }

    static QByteArray leftBytes() { return "left channel"; }
    static QByteArray rightBytes() { return "right channel!"; }

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
    // The launch that made the pair ends (its session lock is released once no pair of it
    // holds it); its folders stay.
    void abandon() { store.reset(); }

    std::shared_ptr<TemporaryAudioStore> store;
    TemporaryExportDirectory stage;
    QList<QUrl> outputs;
    QList<QUrl> destinations;
};

// Every entry under root (relative path → kind and content digest), leaving out the subtrees
// whose relative paths start with one of `excluded`. Links are described, never followed.
inline QMap<QString, QByteArray> snapshot(const QString &root, const QStringList &excluded = {})
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size() + 1);
        if (std::any_of(excluded.begin(), excluded.end(), [&](const QString &p) { return relative.startsWith(p); }))
            continue;
        const struct stat status = lstatOf(path);
        const QByteArray mode = QByteArray::number(status.st_mode, 8);
        if (S_ISLNK(status.st_mode))
            entries[relative] = "link:" + QFile::encodeName(QFileInfo(path).symLinkTarget());
        else if (S_ISREG(status.st_mode))
            entries[relative] = "file " + mode + ":" + QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex();
        else
            entries[relative] = "other " + mode;
    }
    return entries;
}

} // namespace tampod::test
