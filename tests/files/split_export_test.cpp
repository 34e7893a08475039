#include "file_fixtures.h"

#include "core/file_handle.h"
#include "core/strict_json.h"
#include "files/access/source_bookmark.h"
#include "files/journal/audio_export_error.h"

#include <sys/statfs.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

using namespace tampod;
using namespace tampod::test;
namespace FileSafety = tampod::SplitExportFileSafety;
using Journal = SplitExportTransaction::Journal;
using Record = TemporaryAudioStore::ExportRecord;

namespace {

SourceFileIdentity identityAt(const QString &path)
{
    return SourceFileIdentity::of(FileHandle::open(path, O_PATH | O_NOFOLLOW).fd()).value();
}

FileStatus statusOf(const QString &path)
{
    return FileStatus::ofPath(path).value();
}

// A folder on another file system than the test folders, when the machine has one.
QString otherFileSystemFolder(const TempDir &here)
{
    struct statfs a {}, b {};
    if (::statfs("/dev/shm", &a) != 0 || ::statfs(encoded(here.path()).constData(), &b) != 0
        || std::memcmp(&a.f_fsid, &b.f_fsid, sizeof a.f_fsid) == 0 || ::access("/dev/shm", W_OK) != 0)
        return {};
    return "/dev/shm/tampod-test-" + QFileInfo(here.path()).fileName();
}

std::optional<AudioExportError::Case> exportError(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AudioExportError &error) {
        return error.kind();
    }
    return std::nullopt;
}

class SplitExportTest : public ::testing::Test {
protected:
    SplitExportTest()
    {
        makeFolder(dir.file("out"), 0755);
        pair = std::make_unique<StagedPair>(dir.file("store"), dir.file("out"));
    }

    QString journalPath() const { return pair->inStage("tampod-pair.json"); }
    bool isMarked() const { return TemporaryAudioSafety::read<Record>(*pair->stage.record).isSplitPair == true; }

    TempDir dir;
    std::unique_ptr<StagedPair> pair;
};

} // namespace

TEST_F(SplitExportTest, BeginJournalsBothFilesAndMarksTheRecord)
{
    // A quarter of a second past a whole second is kept split as the file system reports it.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, encoded(pair->inStage("encoded-1.sd2")).constData(), times, 0), 0);
    auto record = TemporaryAudioSafety::read<Record>(*pair->stage.record);

    pair->begun();
    const Journal journal = TemporaryAudioSafety::read<Journal>(fileUrl(journalPath()));
    EXPECT_EQ(journal.owner, pair->stage.owner);
    EXPECT_EQ(journal.directory, identityAt(dir.file("out")));
    EXPECT_EQ(SourceBookmark::resolve(journal.bookmark).value().url, fileUrl(dir.file("out")));
    ASSERT_EQ(journal.files.size(), 2U);
    EXPECT_EQ(journal.files[0].destination, "Take.L.sd2");
    EXPECT_EQ(journal.files[0].identity, identityAt(pair->inStage("encoded-0.sd2")));
    const SplitExportTransaction::File right{"encoded-1.sd2", "Take.R.sd2", identityAt(pair->inStage("encoded-1.sd2")),
                                             14, 1700000000, 250000000};
    EXPECT_EQ(journal.files[1], right);

    record.isSplitPair = true;
    EXPECT_EQ(StrictJson::dump(TemporaryAudioSafety::read<Record>(*pair->stage.record).toJson()),
              StrictJson::dump(record.toJson()))
        << "marked, and nothing else changes";
    EXPECT_EQ(entriesOf(pair->stagePath()),
              (QStringList{"encoded-0.sd2", "encoded-1.sd2", "tampod-owner.json", "tampod-pair.json"}))
        << "no temporary file of the atomic writes is left";
}

TEST_F(SplitExportTest, BeginRefusesWhatTheRecoveryCouldNotSettleAndWritesNoJournal)
{
    const QList<QUrl> outs = pair->outputs;
    const QList<QUrl> dests = pair->destinations;
    const auto inStage = [&](const char *name) { return fileUrl(pair->inStage(name)); };
    const auto out = [&](const char *name) { return fileUrl(dir.file(QStringLiteral("out/") + name)); };
    writeFile(pair->inStage("encoded-2.sd2"), "third");
    writeFile(pair->inStage("audio.sd2"), "named otherwise");
    writeFile(dir.file("outside.sd2"), "outside");
    makeLink(dir.file("outside.sd2"), pair->inStage("encoded-1.link.sd2"));
    makeFolder(dir.file("elsewhere"));
    makeLink(dir.file("out"), dir.file("linked-out"));
    const QString far = otherFileSystemFolder(dir);
    if (!far.isEmpty())
        makeFolder(far);
    struct Case {
        const char *what;
        QList<QUrl> outputs;
        QList<QUrl> destinations;
    };
    const Case cases[] = {
        {"three outputs", outs + QList<QUrl>{inStage("encoded-2.sd2")}, dests + QList<QUrl>{out("Take.C.sd2")}},
        {"one output", {outs[0]}, {dests[0]}},
        {"output outside the stage", {outs[0], fileUrl(dir.file("outside.sd2"))}, dests},
        {"two destination folders", outs, {dests[0], fileUrl(dir.file("elsewhere/Take.R.sd2"))}},
        {"one destination twice", outs, {dests[0], dests[0]}},
        {"a linked output", {outs[0], inStage("encoded-1.link.sd2")}, dests},
        {"a name the recovery refuses", {outs[0], inStage("audio.sd2")}, dests},
        {"a linked destination folder", outs,
         {fileUrl(dir.file("linked-out/Take.L.sd2")), fileUrl(dir.file("linked-out/Take.R.sd2"))}},
        {"a destination on another volume", outs,
         far.isEmpty() ? QList<QUrl>{} : QList<QUrl>{fileUrl(far + "/Take.L.sd2"), fileUrl(far + "/Take.R.sd2")}},
    };
    const auto failing = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    const auto refuse = [&](const char *what, const std::function<void()> &begin) {
        try {
            begin();
            ADD_FAILURE() << what << ": begin succeeded";
        } catch (const AudioExportError &error) {
            EXPECT_EQ(error.message(), "Recovery information for the two channel files could not be saved. "
                                       "No channel files were published. Choose another destination folder "
                                       "and try again.")
                << what;
        }
        EXPECT_FALSE(exists(journalPath()) || isMarked()) << what;
    };
    for (const Case &c : cases)
        refuse(c.what, [&] { SplitExportTransaction::begin(pair->stage, c.outputs, c.destinations); });
    refuse("a failing bookmark", [&] { SplitExportTransaction::begin(pair->stage, outs, dests, failing); });
    const TemporaryExportDirectory unrecorded{pair->stage.url, std::nullopt, pair->stage.identity, pair->stage.owner};
    refuse("an unrecorded stage", [&] { SplitExportTransaction::begin(unrecorded, outs, dests); });
    if (!far.isEmpty())
        ::rmdir(encoded(far).constData());

    // A record of another stage fails after the journal is written, and stays unmarked.
    auto record = TemporaryAudioSafety::read<Record>(*pair->stage.record);
    record.owner.id = "SOMEONE-ELSE";
    SplitExportTransaction::write(record.toJson(), *pair->stage.record);
    EXPECT_EQ(exportError([&] { pair->begun(); }), AudioExportError::Case::splitRecoveryUnavailable);
    EXPECT_TRUE(exists(journalPath()));
    EXPECT_FALSE(isMarked());
}

TEST_F(SplitExportTest, PublicationNeverReplacesAnything)
{
    pair->begun().publish(0);
    EXPECT_FALSE(exists(pair->outputs[0].toLocalFile()));
    EXPECT_EQ(readAll(pair->destination(0)), StagedPair::leftBytes());

    // A file, or even a dangling link, planted under the second name meanwhile keeps it.
    for (const bool link : {false, true}) {
        QFile::remove(pair->destination(1));
        link ? makeLink(dir.file("nowhere"), pair->destination(1)) : writeFile(pair->destination(1), "planted");
        try {
            pair->publish(1);
            ADD_FAILURE() << "published over a planted entry";
        } catch (const AudioExportError &error) {
            EXPECT_EQ(error.message(), "A file already exists at that destination. Choose a new filename. "
                                       "This version does not replace existing files.");
        }
        EXPECT_EQ(readAll(pair->outputs[1].toLocalFile()), StagedPair::rightBytes());
    }
    EXPECT_FALSE(exists(dir.file("nowhere")));

    // The fallback of file systems without an exclusive rename, and a rename across file systems.
    const Folder from = Folder::open(pair->stagePath());
    const Folder to = Folder::open(dir.file("out"));
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-1.sd2", to.fd(), "Take.L.sd2"), EEXIST);
    EXPECT_EQ(readAll(pair->destination(0)), StagedPair::leftBytes());
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-1.sd2", to.fd(), "moved.sd2"), 0);
    EXPECT_EQ(lstatOf(dir.file("out/moved.sd2")).st_nlink, 1U);
    EXPECT_FALSE(exists(pair->outputs[1].toLocalFile()));

    const QString far = otherFileSystemFolder(dir);
    if (far.isEmpty())
        return;
    makeFolder(far);
    writeFile(pair->outputs[1].toLocalFile(), "again");
    EXPECT_EQ(posixCode([&] { FileSafety::publish(pair->outputs[1], fileUrl(far + "/Take.R.sd2")); }), EXDEV);
    EXPECT_TRUE(exists(pair->outputs[1].toLocalFile()));
    ::rmdir(encoded(far).constData());
}

TEST_F(SplitExportTest, FoldersAndFilesAreExactlyTheRecordedOnes)
{
    const QString out = dir.file("out");
    makeLink(out, dir.file("link"));
    for (const QUrl &refused : {fileUrl(dir.file("link")), pair->outputs[0], fileUrl(dir.file("missing"))})
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(refused); }), EACCES) << refused.toString().toStdString();
    SourceFileIdentity identity = identityAt(out);
    identity.volume = "ANOTHER-VOLUME";
    EXPECT_TRUE(FileSafety::openDirectory(fileUrl(out), identity).isOpen()) << "the volume text is not compared";
    const std::function<void(SourceFileIdentity &)> changes[] = {
        [](SourceFileIdentity &i) { i.generation = 7; }, [](SourceFileIdentity &i) { i.birthNanoseconds += 1; },
        [](SourceFileIdentity &i) { i.birthSeconds -= 1; }, [](SourceFileIdentity &i) { i.inode += 1; }};
    for (const auto &change : changes) {
        SourceFileIdentity changed = identityAt(out);
        change(changed);
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(out), changed); }), EACCES);
    }

    pair->begun();
    const Journal journal = TemporaryAudioSafety::read<Journal>(fileUrl(journalPath()));
    const SplitExportTransaction::File &left = journal.files[0];
    const QString path = pair->outputs[0].toLocalFile();
    const quint64 device = statusOf(pair->stagePath()).device;
    EXPECT_TRUE(FileSafety::isOwned(statusOf(path), left, device));
    SplitExportTransaction::File reborn = left;
    reborn.identity.birthNanoseconds += 1;
    makeLink(path, pair->inStage("link"));
    for (const auto &[status, file, onDevice] : {std::tuple{path, journal.files[1], device}, {path, left, device + 1},
                                                 {path, reborn, device}, {pair->stagePath(), left, device},
                                                 {pair->inStage("link"), left, device}})
        EXPECT_FALSE(FileSafety::isOwned(statusOf(status), file, onDevice)) << "another file";

    FileHandle::open(path, O_WRONLY | O_APPEND).writeAll("!");
    EXPECT_EQ(posixCode([&] { FileSafety::isOwned(statusOf(path), left, device); }), EACCES) << "grown by a byte";
    if (runningAsRoot()) {
        makeFolder(dir.file("theirs"));
        giveAway(dir.file("theirs"));
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("theirs"))); }), EACCES);
        const FileStatus status = statusOf(path);
        const SplitExportTransaction::File current{left.staged, left.destination, left.identity, status.size,
                                                   status.modifiedSeconds, status.modifiedNanoseconds};
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
