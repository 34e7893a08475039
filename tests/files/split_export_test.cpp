#include "file_safety_fixtures.h"

#include "core/file_handle.h"
#include "core/strict_json.h"
#include "files/access/source_bookmark.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/split_export_file_safety.h"
#include "files/journal/split_export_transaction.h"
#include "files/store/temporary_audio_store.h"

#include <sys/statfs.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

using namespace tampod;
using namespace tampod::test;
namespace FileSafety = tampod::SplitExportFileSafety;
using Journal = SplitExportTransaction::Journal;

namespace {

SourceFileIdentity fileIdentityOf(const QString &path)
{
    FileHandle handle = FileHandle::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    const auto identity = SourceFileIdentity::of(handle.fd());
    EXPECT_TRUE(identity.has_value()) << path.toStdString();
    return identity.value_or(SourceFileIdentity{});
}

TemporaryAudioSafety::Status statusOf(const QString &path)
{
    return TemporaryAudioSafety::Status::at(AT_FDCWD, QFile::encodeName(path));
}

// A folder on another file system than the test folders, when the machine has one.
QString otherFileSystemFolder(const QString &here)
{
    struct statfs a {}, b {};
    if (::statfs("/dev/shm", &a) != 0 || ::statfs(QFile::encodeName(here).constData(), &b) != 0
        || std::memcmp(&a.f_fsid, &b.f_fsid, sizeof a.f_fsid) == 0 || ::access("/dev/shm", W_OK) != 0)
        return {};
    return QStringLiteral("/dev/shm");
}

AudioExportError::Case exportErrorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AudioExportError &error) {
        return error.kind();
    }
    ADD_FAILURE() << "no export error";
    return AudioExportError::Case::splitRecoveryPending;
}

class SplitExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        makeFolder(dir.file("out"), 0755);
        store = std::make_unique<TemporaryAudioStore>(fileUrl(dir.file("store")));
        stage = store->makeExportDirectory(fileUrl(dir.file("out/Take.L.sd2")));
        outputs = {fileUrl(stagePath() + "/encoded-0.sd2"), fileUrl(stagePath() + "/encoded-1.sd2")};
        writeFile(local(outputs[0]), "left channel");
        writeFile(local(outputs[1]), "right channel!");
        destinations = {fileUrl(dir.file("out/Take.L.sd2")), fileUrl(dir.file("out/Take.R.sd2"))};
    }

    QString stagePath() const { return local(stage.url); }
    QString journalPath() const { return stagePath() + "/tampod-pair.json"; }

    void expectUnavailableWithoutJournal(const char *what, const QList<QUrl> &outs, const QList<QUrl> &dests,
                                         const SplitExportTransaction::BookmarkMaker &bookmark
                                         = TemporaryAudioStore::defaultBookmark)
    {
        try {
            SplitExportTransaction::begin(stage, outs, dests, bookmark);
            ADD_FAILURE() << what << ": begin succeeded";
        } catch (const AudioExportError &error) {
            EXPECT_EQ(error.kind(), AudioExportError::Case::splitRecoveryUnavailable) << what;
            EXPECT_EQ(error.message(), "Recovery information for the two channel files could not be saved. "
                                       "No channel files were published. Choose another destination folder "
                                       "and try again.");
        }
        EXPECT_FALSE(exists(journalPath())) << what;
        EXPECT_FALSE(TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record).isSplitPair) << what;
    }

    TempDir dir;
    std::unique_ptr<TemporaryAudioStore> store;
    TemporaryExportDirectory stage;
    QList<QUrl> outputs;
    QList<QUrl> destinations;
};

} // namespace

TEST_F(SplitExportTest, BeginJournalsBothFilesAndMarksTheRecord)
{
    // A quarter of a second past a whole second is kept split as the file system reports it.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(local(outputs[1])).constData(), times, 0), 0);
    const auto before = TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record);

    SplitExportTransaction::begin(stage, outputs, destinations);

    const Journal journal = TemporaryAudioSafety::read<Journal>(fileUrl(journalPath()));
    EXPECT_EQ(journal.owner, stage.owner);
    EXPECT_EQ(journal.directory, fileIdentityOf(dir.file("out")));
    EXPECT_EQ(SourceBookmark::resolve(journal.bookmark).value().url.toLocalFile(), dir.file("out"));
    ASSERT_EQ(journal.files.size(), 2U);
    const SplitExportTransaction::File &left = journal.files[0];
    const SplitExportTransaction::File &right = journal.files[1];
    EXPECT_EQ(left.destination, "Take.L.sd2");
    EXPECT_EQ(left.identity, fileIdentityOf(local(outputs[0])));
    EXPECT_EQ(right.destination, "Take.R.sd2");
    EXPECT_EQ(right.bytes, 14);
    EXPECT_EQ(right.modifiedSeconds, 1700000000);
    EXPECT_EQ(right.modifiedNanoseconds, 250000000);

    auto after = TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
    EXPECT_EQ(after.isSplitPair, std::optional<bool>(true));
    after.isSplitPair.reset();
    EXPECT_EQ(StrictJson::dump(after.toJson()), StrictJson::dump(before.toJson())) << "nothing else changes";
    EXPECT_EQ(entriesOf(stagePath()),
              (QStringList{"encoded-0.sd2", "encoded-1.sd2", "tampod-owner.json", "tampod-pair.json"}))
        << "no temporary file of the atomic writes is left";
}

TEST_F(SplitExportTest, BeginRefusesWhatTheRecoveryCouldNotSettleAndWritesNoJournal)
{
    writeFile(stagePath() + "/encoded-2.sd2", "third");
    expectUnavailableWithoutJournal("three outputs", outputs + QList<QUrl>{fileUrl(stagePath() + "/encoded-2.sd2")},
                                    destinations + QList<QUrl>{fileUrl(dir.file("out/Take.C.sd2"))});
    expectUnavailableWithoutJournal("one output", {outputs[0]}, {destinations[0]});

    writeFile(dir.file("outside.sd2"), "outside");
    expectUnavailableWithoutJournal("output outside the stage", {outputs[0], fileUrl(dir.file("outside.sd2"))},
                                    destinations);

    makeFolder(dir.file("elsewhere"));
    expectUnavailableWithoutJournal("two destination folders", outputs,
                                    {destinations[0], fileUrl(dir.file("elsewhere/Take.R.sd2"))});
    expectUnavailableWithoutJournal("one destination twice", outputs, {destinations[0], destinations[0]});

    makeLink(dir.file("outside.sd2"), stagePath() + "/encoded-1.link.sd2");
    expectUnavailableWithoutJournal("a linked output", {outputs[0], fileUrl(stagePath() + "/encoded-1.link.sd2")},
                                    destinations);

    writeFile(stagePath() + "/audio.sd2", "named otherwise");
    expectUnavailableWithoutJournal("a name the recovery refuses", {outputs[0], fileUrl(stagePath() + "/audio.sd2")},
                                    destinations);

    makeLink(dir.file("out"), dir.file("linked-out"));
    expectUnavailableWithoutJournal("a linked destination folder", outputs,
                                    {fileUrl(dir.file("linked-out/Take.L.sd2")), fileUrl(dir.file("linked-out/Take.R.sd2"))});

    const auto failing = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    expectUnavailableWithoutJournal("a failing bookmark", outputs, destinations, failing);

    const TemporaryExportDirectory unrecorded{stage.url, std::nullopt, stage.identity, stage.owner};
    EXPECT_EQ(exportErrorOf([&] { SplitExportTransaction::begin(unrecorded, outputs, destinations); }),
              AudioExportError::Case::splitRecoveryUnavailable);
    EXPECT_FALSE(exists(journalPath()));

    const QString other = otherFileSystemFolder(dir.path());
    if (!other.isEmpty()) {
        TempDir base;
        const QString far = other + "/tampod-test-" + QFileInfo(base.path()).fileName();
        makeFolder(far);
        expectUnavailableWithoutJournal("a destination on another volume", outputs,
                                        {fileUrl(far + "/Take.L.sd2"), fileUrl(far + "/Take.R.sd2")});
        ::rmdir(QFile::encodeName(far).constData());
    }
}

TEST_F(SplitExportTest, RecordOfAnotherStageFailsAfterTheJournalAndStaysUnmarked)
{
    auto record = TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record);
    record.owner.id = "SOMEONE-ELSE";
    SplitExportTransaction::write(record.toJson(), *stage.record);
    EXPECT_EQ(exportErrorOf([&] { SplitExportTransaction::begin(stage, outputs, destinations); }),
              AudioExportError::Case::splitRecoveryUnavailable);
    EXPECT_TRUE(exists(journalPath()));
    EXPECT_FALSE(TemporaryAudioSafety::read<TemporaryAudioStore::ExportRecord>(*stage.record).isSplitPair);
}

TEST_F(SplitExportTest, PublicationNeverReplacesAnExistingFile)
{
    SplitExportTransaction::begin(stage, outputs, destinations);
    FileSafety::publish(outputs[0], destinations[0]);
    EXPECT_FALSE(exists(local(outputs[0])));
    EXPECT_EQ(readAll(local(destinations[0])), "left channel");

    // Someone plants a file under the second name meanwhile.
    writeFile(local(destinations[1]), "planted");
    try {
        FileSafety::publish(outputs[1], destinations[1]);
        ADD_FAILURE() << "published over a planted file";
    } catch (const AudioExportError &error) {
        EXPECT_EQ(error.kind(), AudioExportError::Case::destinationExists);
        EXPECT_EQ(error.message(), "A file already exists at that destination. Choose a new filename. "
                                   "This version does not replace existing files.");
    }
    EXPECT_EQ(readAll(local(destinations[1])), "planted");
    EXPECT_EQ(readAll(local(outputs[1])), "right channel!");

    // Even a dangling link or an empty file takes the name.
    ::unlink(QFile::encodeName(local(destinations[1])).constData());
    makeLink(dir.file("nowhere"), local(destinations[1]));
    EXPECT_EQ(exportErrorOf([&] { FileSafety::publish(outputs[1], destinations[1]); }),
              AudioExportError::Case::destinationExists);
    EXPECT_FALSE(exists(dir.file("nowhere")));
    EXPECT_TRUE(exists(local(outputs[1])));
}

TEST_F(SplitExportTest, FallbackRenameAndOtherFileSystemsNeverReplaceEither)
{
    FileHandle from = FileHandle::open(stagePath(), O_RDONLY | O_DIRECTORY);
    FileHandle to = FileHandle::open(dir.file("out"), O_RDONLY | O_DIRECTORY);
    writeFile(dir.file("out/taken.sd2"), "taken");
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-0.sd2", to.fd(), "taken.sd2"), EEXIST);
    EXPECT_EQ(readAll(dir.file("out/taken.sd2")), "taken");
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-0.sd2", to.fd(), "moved.sd2"), 0);
    EXPECT_FALSE(exists(local(outputs[0])));
    EXPECT_EQ(lstatOf(dir.file("out/moved.sd2")).st_nlink, 1U);

    const QString other = otherFileSystemFolder(dir.path());
    if (other.isEmpty())
        GTEST_SKIP() << "no second file system";
    TempDir base;
    const QString far = other + "/tampod-test-" + QFileInfo(base.path()).fileName();
    makeFolder(far);
    EXPECT_EQ(posixCode([&] { FileSafety::publish(outputs[1], fileUrl(far + "/Take.R.sd2")); }), EXDEV);
    EXPECT_TRUE(exists(local(outputs[1])));
    ::rmdir(QFile::encodeName(far).constData());
}

TEST_F(SplitExportTest, OpenDirectoryConfirmsTheUsersRecordedFolder)
{
    const QString out = dir.file("out");
    makeLink(out, dir.file("link"));
    EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("link"))); }), EACCES);
    EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(outputs[0]); }), EACCES);
    EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("missing"))); }), EACCES);

    SourceFileIdentity identity = fileIdentityOf(out);
    identity.volume = "ANOTHER-VOLUME";
    EXPECT_TRUE(FileSafety::openDirectory(fileUrl(out), identity).isOpen()) << "the volume text is not compared";
    for (auto change : std::initializer_list<std::function<void(SourceFileIdentity &)>>{
             [](SourceFileIdentity &i) { i.generation = 7; },
             [](SourceFileIdentity &i) { i.birthNanoseconds += 1; },
             [](SourceFileIdentity &i) { i.birthSeconds -= 1; },
             [](SourceFileIdentity &i) { i.inode += 1; }}) {
        SourceFileIdentity changed = fileIdentityOf(out);
        change(changed);
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(out), changed); }), EACCES);
    }
    if (runningAsRoot()) {
        makeFolder(dir.file("theirs"));
        giveAway(dir.file("theirs"));
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("theirs"))); }), EACCES);
    }
}

TEST_F(SplitExportTest, IsOwnedTellsAnotherFileFromAChangedJournaledFile)
{
    SplitExportTransaction::begin(stage, outputs, destinations);
    const Journal journal = TemporaryAudioSafety::read<Journal>(fileUrl(journalPath()));
    const SplitExportTransaction::File &left = journal.files[0];
    const QString path = local(outputs[0]);
    const quint64 device = statusOf(stagePath()).device;

    EXPECT_TRUE(FileSafety::isOwned(statusOf(path), left, device));
    EXPECT_FALSE(FileSafety::isOwned(statusOf(path), journal.files[1], device)) << "another inode";
    EXPECT_FALSE(FileSafety::isOwned(statusOf(path), left, device + 1)) << "another device";
    SplitExportTransaction::File reborn = left;
    reborn.identity.birthNanoseconds += 1;
    EXPECT_FALSE(FileSafety::isOwned(statusOf(path), reborn, device)) << "inode reused by another file";
    EXPECT_FALSE(FileSafety::isOwned(statusOf(stagePath()), left, device)) << "a folder";
    makeLink(path, stagePath() + "/link");
    EXPECT_FALSE(FileSafety::isOwned(statusOf(stagePath() + "/link"), left, device)) << "a link";

    {
        FileHandle file = FileHandle::open(path, O_WRONLY | O_APPEND);
        file.writeAll("!");
    }
    EXPECT_EQ(posixCode([&] { FileSafety::isOwned(statusOf(path), left, device); }), EACCES) << "grown by a byte";
    if (runningAsRoot()) {
        SplitExportTransaction::File current = left;
        const auto status = statusOf(path);
        current.bytes = status.size;
        current.modifiedSeconds = status.modifiedSeconds;
        current.modifiedNanoseconds = status.modifiedNanoseconds;
        EXPECT_TRUE(FileSafety::isOwned(status, current, device));
        giveAway(path);
        EXPECT_EQ(posixCode([&] { FileSafety::isOwned(statusOf(path), current, device); }), EACCES);
    }
}

TEST(SplitExportWrite, ReplacesALinkAtTheNameWithoutFollowingIt)
{
    TempDir dir;
    writeFile(dir.file("target"), "keep");
    makeLink(dir.file("target"), dir.file("marker.json"));
    SplitExportTransaction::write(TemporaryAudioStore::Owner{"S", "I"}.toJson(), fileUrl(dir.file("marker.json")));
    EXPECT_EQ(readAll(dir.file("target")), "keep");
    EXPECT_EQ(TemporaryAudioSafety::read<TemporaryAudioStore::Owner>(fileUrl(dir.file("marker.json"))),
              (TemporaryAudioStore::Owner{"S", "I"}));
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"marker.json", "target"}));
    EXPECT_EQ(permissionsOf(dir.file("marker.json")), 0600);
}
