// What the recovery does with states a crash alone never makes: edited, planted, foreign or
// moved files and folders. Crash states are the crash harness's.
#include "file_fixtures.h"

#include "core/file_handle.h"

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
    SplitExportRecoveryTest()
    {
        makeFolder(dir.file("out"), 0755);
        pair = std::make_unique<StagedPair>(dir.file("store"), dir.file("out"));
        pair->begun();
    }

    QStringList stageExtras() const
    {
        QStringList names = entriesOf(pair->stagePath());
        for (const char *usual : {"encoded-0.sd2", "encoded-1.sd2", "tampod-owner.json", "tampod-pair.json"})
            names.removeAll(QLatin1String(usual));
        return names;
    }
    void rewrite(const Journal &journal) const
    {
        SplitExportTransaction::write(journal.toJson(), fileUrl(pair->inStage("tampod-pair.json")));
    }
    int recoverCode() const { return posixCode([&] { pair->recover(); }); }

    TempDir dir;
    std::unique_ptr<StagedPair> pair;
};

} // namespace

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
    const Journal original = TemporaryAudioSafety::read<Journal>(fileUrl(pair->inStage("tampod-pair.json")));
    const std::pair<const char *, std::function<void(Journal &)>> changes[] = {
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
        EXPECT_EQ(recoverCode(), EINVAL) << what;
        EXPECT_EQ(state(), before) << what;
    }
    rewrite(original);
    for (const char *marker : {committed, recovering}) {
        SplitExportTransaction::write(TemporaryAudioStore::Owner{"other", "owner"}.toJson(), fileUrl(pair->inStage(marker)));
        EXPECT_EQ(recoverCode(), EINVAL) << marker;
        QFile::remove(pair->inStage(marker));
    }
    EXPECT_EQ(state(), before);
}

TEST_F(SplitExportRecoveryTest, FilesThatAreNotExactlyTheJournaledOnesAreNeverDeleted)
{
    // A published file the user edited stays where it is, also once a take-back has begun, and
    // also when the editor put its modification time back.
    pair->publish(0);
    const struct stat published = lstatOf(pair->destination(0));
    FileHandle::open(pair->destination(0), O_WRONLY | O_APPEND).writeAll("!");
    const struct timespec times[2] = {{0, UTIME_OMIT}, published.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, encoded(pair->destination(0)).constData(), times, 0), 0);
    for (const QStringList &extras : {QStringList{}, QStringList{recovering}}) {
        if (!extras.isEmpty())
            pair->mark(recovering);
        EXPECT_EQ(recoverCode(), EACCES);
        EXPECT_EQ(readAll(pair->destination(0)), StagedPair::leftBytes() + "!");
        EXPECT_EQ(stageExtras(), extras);
    }

    // A leftover under the temporary name that is not the journaled file goes back under the
    // destination name; another file under a destination name is not ours and stays.
    StagedPair second(pair->store, dir.file("out"), "Other");
    second.begun().mark(recovering);
    writeFile(second.inStage("tampod-unpublished-1"), "someone's file");
    EXPECT_EQ(posixCode([&] { second.recover(); }), EACCES);
    EXPECT_EQ(readAll(second.destination(1)), "someone's file");
    EXPECT_FALSE(exists(second.inStage("tampod-unpublished-1")));
    QFile::remove(second.inStage(recovering));
    EXPECT_EQ(second.recover(), Outcome::nothingPublished);
    second.publish(0);
    EXPECT_EQ(second.recover(), Outcome::rolledBack);
    EXPECT_FALSE(exists(second.destination(0)));
    EXPECT_EQ(readAll(second.destination(1)), "someone's file");
}

TEST_F(SplitExportRecoveryTest, ATakeBackOnceBegunIsFinalEvenWithBothFilesPublished)
{
    pair->publish(0);
    pair->publish(1);
    pair->mark(recovering);
    EXPECT_EQ(pair->recover(), Outcome::rolledBack);
    EXPECT_FALSE(exists(pair->destination(0)) || exists(pair->destination(1)));
    EXPECT_EQ(pair->recover(), Outcome::rolledBack) << "again after a crash right there: nothing left to take";
}

TEST_F(SplitExportRecoveryTest, DestinationFolderIsTheJournaledOneOrNothingIsTouched)
{
    pair->publish(0);
    const QString stageName = QFileInfo(pair->stagePath()).fileName();
    // Another folder in place of the journaled one, which went elsewhere: refused, nothing touched.
    makeFolder(dir.file("elsewhere"));
    rename(dir.file("out"), dir.file("elsewhere/old"));
    makeFolder(dir.file("out"));
    writeFile(dir.file("out/Take.L.sd2"), "lookalike");
    const auto before = snapshot(dir.path());
    const QUrl movedStage = fileUrl(dir.file("elsewhere/old/" + stageName));
    EXPECT_EQ(posixCode([&] { SplitExportTransaction::recover(movedStage, pair->stage.owner); }), EACCES);
    EXPECT_EQ(snapshot(dir.path()), before);

    // Only renamed within its parent, it keeps its identity and the pair is settled there.
    QDir(dir.file("out")).removeRecursively();
    rename(dir.file("elsewhere/old"), dir.file("renamed"));
    EXPECT_EQ(SplitExportTransaction::recover(fileUrl(dir.file("renamed/" + stageName)), pair->stage.owner),
              Outcome::rolledBack);
    EXPECT_EQ(entriesOf(dir.file("renamed")), QStringList{stageName});
}

// Archives from older systems carry names that are not UTF-8: the journal and its bookmark keep
// the folder's and the files' exact bytes, so a take-back finds exactly what was published.
TEST(SplitExportRecoveryNames, AFolderAndNamesThatAreNotUtf8AreTakenBackByTheirBytes)
{
    TempDir dir;
    const QByteArray folder = encoded(dir.path()) + "/old\xe9";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    StagedPair pair(dir.file("store"), decodedPath(folder), decodedPath("Take\xff"));
    pair.begun().publish(0);
    const auto journal = TemporaryAudioSafety::read<Journal>(fileUrl(pair.inStage("tampod-pair.json")));
    ASSERT_EQ(journal.files.size(), 2U);
    EXPECT_EQ(encodedPath(journal.files[0].destination), QByteArray("Take\xff.L.sd2"));
    struct stat status {};
    EXPECT_EQ(::lstat(folder + "/Take\xff.L.sd2", &status), 0);
    EXPECT_EQ(pair.recover(), Outcome::rolledBack);
    EXPECT_NE(::lstat(folder + "/Take\xff.L.sd2", &status), 0);
    EXPECT_NE(::lstat(folder + "/Take\xff.R.sd2", &status), 0);
}
