#include "split_pair_fixture.h"

#include "core/file_handle.h"
#include "core/strict_json.h"
#include "files/store/temporary_audio_safety.h"

#include <cerrno>
#include <fcntl.h>

using namespace tampod;
using namespace tampod::test;
using Outcome = SplitExportTransaction::Outcome;
using Journal = SplitExportTransaction::Journal;

namespace {

constexpr char committed[] = "tampod-pair-committed.json";
constexpr char recovering[] = "tampod-pair-recovering.json";

class SplitExportRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("out"), 0755);
        pair = std::make_unique<JournaledPair>(dir.file("store"), dir.file("out"));
    }

    QString out(const QString &name) const { return dir.file("out/" + name); }
    QStringList outEntries() const
    {
        QStringList names = entriesOf(dir.file("out"));
        names.removeIf([](const QString &n) { return n.startsWith(".tampod-staging-"); });
        return names;
    }
    QStringList stageExtras() const
    {
        QStringList names = entriesOf(pair->stagePath());
        for (const char *usual : {"encoded-0.sd2", "encoded-1.sd2", "tampod-owner.json", "tampod-pair.json"})
            names.removeAll(QLatin1String(usual));
        return names;
    }
    Journal journal() const { return TemporaryAudioSafety::read<Journal>(fileUrl(pair->inStage("tampod-pair.json"))); }
    void rewrite(const Journal &changed) const
    {
        SplitExportTransaction::write(changed.toJson(), fileUrl(pair->inStage("tampod-pair.json")));
    }
    int recoverCode() const { return posixCode([&] { pair->recover(); }); }

    TempDir dir;
    std::unique_ptr<JournaledPair> pair;
};

} // namespace

TEST_F(SplitExportRecoveryTest, EveryRowOfTheDecisionTableEndsTheSameWayWhenRunAgain)
{
    struct Row {
        const char *name;
        std::function<void(JournaledPair &)> arrange;
        Outcome outcome;
        bool pairAtDestination;
        QStringList markersAfter;
    };
    const std::vector<Row> rows{
        {"committed marker", [](JournaledPair &p) { p.publish(0); p.mark(committed); }, Outcome::completed, false, {committed}},
        {"both published", [](JournaledPair &p) { p.publish(0); p.publish(1); }, Outcome::completed, true, {committed}},
        {"both published while recovering",
         [](JournaledPair &p) { p.publish(0); p.publish(1); p.mark(recovering); }, Outcome::rolledBack, false, {recovering}},
        {"nothing published", [](JournaledPair &) {}, Outcome::nothingPublished, false, {}},
        {"nothing left while recovering", [](JournaledPair &p) { p.mark(recovering); }, Outcome::rolledBack, false, {recovering}},
        {"first published", [](JournaledPair &p) { p.publish(0); }, Outcome::rolledBack, false, {recovering}},
        {"second published while recovering",
         [](JournaledPair &p) { p.publish(1); p.mark(recovering); }, Outcome::rolledBack, false, {recovering}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir scene;
        makeFolder(scene.file("out"));
        writeFile(scene.file("out/Other.wav"), "unrelated");
        JournaledPair p(scene.file("store"), scene.file("out"));
        row.arrange(p);
        for (int run = 0; run < 2; ++run) {
            EXPECT_EQ(p.recover(), row.outcome) << "run " << run;
            EXPECT_EQ(exists(p.destination(0)) && exists(p.destination(1)), row.pairAtDestination);
            if (row.outcome != Outcome::completed)
                EXPECT_FALSE(exists(p.destination(0)) || exists(p.destination(1))) << "never half a pair";
            EXPECT_EQ(readAll(scene.file("out/Other.wav")), "unrelated");
            QStringList markers;
            for (const char *marker : {committed, recovering})
                if (exists(p.inStage(marker)))
                    markers.append(marker);
            EXPECT_EQ(markers, row.markersAfter);
            EXPECT_TRUE(entriesOf(p.stagePath()).filter("tampod-unpublished-").isEmpty());
        }
        if (row.pairAtDestination) {
            EXPECT_EQ(readAll(p.destination(0)), JournaledPair::leftBytes());
            EXPECT_EQ(readAll(p.destination(1)), JournaledPair::rightBytes());
        }
    }
}

TEST_F(SplitExportRecoveryTest, StageWithoutJournalYieldsNoOutcomeAndIsLeftAlone)
{
    TempDir other;
    makeFolder(other.file("out"));
    auto store = std::make_unique<TemporaryAudioStore>(fileUrl(other.file("store")));
    const TemporaryExportDirectory single = store->makeExportDirectory(fileUrl(other.file("out/Song.wav")));
    writeFile(single.url.toLocalFile() + "/audio.wav", "audio");
    const auto before = snapshot(other.path());
    EXPECT_EQ(SplitExportTransaction::recover(single.url, single.owner), std::nullopt);
    EXPECT_EQ(snapshot(other.path()), before);
}

TEST_F(SplitExportRecoveryTest, MalformedJournalOrForeignMarkersFailBeforeAnythingIsTouched)
{
    pair->publish(0);
    const QString journalEntry = "out/" + QFileInfo(pair->stagePath()).fileName() + "/tampod-pair.json";
    const auto state = [&] {
        auto entries = snapshot(dir.path());
        entries.remove(journalEntry);
        return entries;
    };
    const auto before = state();
    const auto expectInvalid = [&](const char *what) {
        EXPECT_EQ(recoverCode(), EINVAL) << what;
        EXPECT_EQ(state(), before) << what;
    };

    const Journal original = journal();
    const std::vector<std::pair<const char *, std::function<void(Journal &)>>> changes{
        {"second staged name with the first position", [](Journal &j) { j.files[1].staged = "encoded-0.sd2"; }},
        {"one destination twice", [](Journal &j) { j.files[1].destination = j.files[0].destination; }},
        {"a destination outside the folder", [](Journal &j) { j.files[0].destination = "../Take.L.sd2"; }},
        {"journal of another owner", [](Journal &j) { j.owner.id = "another owner"; }},
        {"one file", [](Journal &j) { j.files.pop_back(); }},
    };
    for (const auto &[what, change] : changes) {
        Journal changed = original;
        change(changed);
        rewrite(changed);
        expectInvalid(what);
    }
    rewrite(original);

    const auto journalBytes = readAll(pair->inStage("tampod-pair.json"));
    for (const char *marker : {committed, recovering}) {
        SplitExportTransaction::write(TemporaryAudioStore::Owner{"other", "owner"}.toJson(),
                                      fileUrl(pair->inStage(marker)));
        EXPECT_EQ(recoverCode(), EINVAL) << marker;
        ::unlink(QFile::encodeName(pair->inStage(marker)).constData());
    }
    EXPECT_EQ(readAll(pair->inStage("tampod-pair.json")), journalBytes);
    EXPECT_TRUE(exists(pair->destination(0)));
}

TEST_F(SplitExportRecoveryTest, FilesThatAreNotExactlyTheJournaledOnesAreNeverDeleted)
{
    // A published file the user edited stays where it is.
    pair->publish(0);
    {
        FileHandle file = FileHandle::open(pair->destination(0), O_WRONLY | O_APPEND);
        file.writeAll("!");
    }
    EXPECT_EQ(recoverCode(), EACCES);
    EXPECT_EQ(readAll(pair->destination(0)), JournaledPair::leftBytes() + "!");
    EXPECT_EQ(stageExtras(), QStringList{});
    // Also once a take-back has begun.
    pair->mark(recovering);
    EXPECT_EQ(recoverCode(), EACCES);
    EXPECT_EQ(readAll(pair->destination(0)), JournaledPair::leftBytes() + "!");
    EXPECT_EQ(stageExtras(), QStringList{recovering});

    // A leftover under the temporary name that is not the journaled file goes back under the
    // destination name.
    TempDir scene;
    makeFolder(scene.file("out"));
    JournaledPair second(scene.file("store"), scene.file("out"));
    second.mark(recovering);
    writeFile(second.inStage("tampod-unpublished-1"), "someone's file");
    EXPECT_EQ(posixCode([&] { second.recover(); }), EACCES);
    EXPECT_EQ(readAll(second.destination(1)), "someone's file");
    EXPECT_FALSE(exists(second.inStage("tampod-unpublished-1")));
}

TEST_F(SplitExportRecoveryTest, AnotherFileUnderADestinationNameCountsAsNotPublished)
{
    // The first publication found its name taken: the other file is not ours and stays.
    writeFile(out("Take.L.sd2"), "the user's own take");
    EXPECT_EQ(pair->recover(), Outcome::nothingPublished);
    EXPECT_EQ(readAll(out("Take.L.sd2")), "the user's own take");
    EXPECT_EQ(stageExtras(), QStringList{});

    // With the second file published, only the second is taken back.
    pair->publish(1);
    EXPECT_EQ(pair->recover(), Outcome::rolledBack);
    EXPECT_EQ(outEntries(), QStringList{"Take.L.sd2"});
    EXPECT_EQ(readAll(out("Take.L.sd2")), "the user's own take");
}

TEST_F(SplitExportRecoveryTest, DestinationFolderIsTheJournaledOneOrNothingIsTouched)
{
    pair->publish(0);
    // Only renamed within its parent: it keeps its identity, is found again and the pair is
    // settled there.
    const QString stageName = QFileInfo(pair->stagePath()).fileName();
    ASSERT_EQ(::rename(QFile::encodeName(dir.file("out")).constData(), QFile::encodeName(dir.file("renamed")).constData()), 0);
    const QUrl movedStage = fileUrl(dir.file("renamed/" + stageName));
    EXPECT_EQ(SplitExportTransaction::recover(movedStage, pair->stage.owner), Outcome::rolledBack);
    EXPECT_EQ(entriesOf(dir.file("renamed")), QStringList{stageName});

    // Another folder put in place of the journaled one, which went elsewhere: refused, nothing
    // touched.
    TempDir scene;
    makeFolder(scene.file("out"));
    makeFolder(scene.file("elsewhere"));
    JournaledPair second(scene.file("store"), scene.file("out"));
    second.publish(0);
    const QString secondStage = QFileInfo(second.stagePath()).fileName();
    ASSERT_EQ(::rename(QFile::encodeName(scene.file("out")).constData(),
                       QFile::encodeName(scene.file("elsewhere/old")).constData()), 0);
    makeFolder(scene.file("out"));
    writeFile(scene.file("out/Take.L.sd2"), "lookalike");
    const auto before = snapshot(scene.path());
    EXPECT_EQ(posixCode([&] {
                  SplitExportTransaction::recover(fileUrl(scene.file("elsewhere/old/" + secondStage)), second.stage.owner);
              }),
              EACCES);
    EXPECT_EQ(snapshot(scene.path()), before);
}
