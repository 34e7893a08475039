#include "file_fixtures.h"

#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "files/internal/file_status.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/internal/split_export_ownership.h"

#include <cerrno>
#include <fcntl.h>

using namespace tampod;
using namespace tampod::test;
namespace FileSafety = tampod::SplitExportFileSafety;
using Record = TemporaryAudioStore::ExportRecord;

namespace {

std::vector<std::string> seenCalls;

FileStatus statusOf(const QString &path)
{
    return FileStatus::ofPath(path).value();
}

class SplitExportTest : public ::testing::Test {
protected:
    SplitExportTest()
    {
        makeFolder(dir.file("out"), 0755);
        pair = std::make_unique<StagedPair>(dir.file("store"), dir.file("out"));
    }
    bool journaled() const { return exists(pair->inStage("tampod-pair.json")); }
    bool marked() const { return TemporaryAudioSafety::read<Record>(*pair->stage.record).isSplitPair == true; }
    QString out(const QString &name) const { return dir.file("out/" + name); }

    TempDir dir;
    std::unique_ptr<StagedPair> pair;
};

} // namespace

TEST_F(SplitExportTest, BeginRefusesWhatTheRecoveryCouldNotSettleAndWritesNoJournal)
{
    const QList<QUrl> outs = pair->outputs;
    const QList<QUrl> dests = pair->destinations;
    const auto staged = [&](const char *name) { return fileUrl(pair->inStage(name)); };
    writeFile(pair->inStage("encoded-2.sd2"), "third");
    writeFile(pair->inStage("audio.sd2"), "named otherwise");
    writeFile(dir.file("outside.sd2"), "outside");
    makeLink(dir.file("outside.sd2"), pair->inStage("encoded-1.link.sd2"));
    makeLink(dir.file("out"), dir.file("linked"));
    const QString far = folderOnAnotherFileSystem(dir.path());
    const QString text = "Recovery information for the two channel files could not be saved. No channel files were "
                         "published. Choose another destination folder and try again.";
    const auto failing = [](const QUrl &) -> QByteArray { throw SystemError(EIO, "bookmark"); };
    const TemporaryExportDirectory unrecorded{pair->stage.url, std::nullopt, pair->stage.identity, pair->stage.owner};
    const auto begin = [&](const QList<QUrl> &outputs, const QList<QUrl> &destinations) -> std::function<void()> {
        return [&, outputs, destinations] { SplitExportTransaction::begin(pair->stage, outputs, destinations); };
    };
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"three outputs", begin(outs + QList{staged("encoded-2.sd2")}, dests + QList{fileUrl(out("Take.C.sd2"))})},
        {"one output", begin({outs[0]}, {dests[0]})},
        {"output outside the stage", begin({outs[0], fileUrl(dir.file("outside.sd2"))}, dests)},
        {"two destination folders", begin(outs, {dests[0], fileUrl(dir.file("Take.R.sd2"))})},
        {"one destination twice", begin(outs, {dests[0], dests[0]})},
        {"a linked output", begin({outs[0], staged("encoded-1.link.sd2")}, dests)},
        {"a name the recovery refuses", begin({outs[0], staged("audio.sd2")}, dests)},
        {"a linked destination folder", begin(outs, {fileUrl(dir.file("linked/Take.L.sd2")), fileUrl(dir.file("linked/Take.R.sd2"))})},
        {"a destination on another volume", begin(outs, {fileUrl(far + "/Take.L.sd2"), fileUrl(far + "/Take.R.sd2")})},
        {"a failing bookmark", [&] { SplitExportTransaction::begin(pair->stage, outs, dests, failing); }},
        {"an unrecorded stage", [&] { SplitExportTransaction::begin(unrecorded, outs, dests); }},
    };
    for (const auto &[what, call] : cases) {
        EXPECT_EQ(thrownText<AudioExportError>(call), text) << what;
        EXPECT_FALSE(journaled() || marked()) << what;
    }
    QDir(far).removeRecursively();

    // A record of another stage fails after the journal is written, and stays unmarked.
    auto record = TemporaryAudioSafety::read<Record>(*pair->stage.record);
    record.owner.id = "SOMEONE-ELSE";
    SplitExportTransaction::write(record.toJson(), *pair->stage.record);
    EXPECT_EQ(thrownText<AudioExportError>([&] { pair->begun(); }), text);
    EXPECT_TRUE(journaled() && !marked());
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
        EXPECT_EQ(thrownText<AudioExportError>([&] { pair->publish(1); }),
                  "A file already exists at that destination. Choose a new filename. This version does not replace "
                  "existing files.");
        EXPECT_EQ(readAll(pair->outputs[1].toLocalFile()), StagedPair::rightBytes());
    }
    EXPECT_FALSE(exists(dir.file("nowhere")));

    // The fallback of file systems without an exclusive rename, and a move across file systems.
    const Folder from = Folder::open(pair->stagePath());
    const Folder to = Folder::open(dir.file("out"));
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-1.sd2", to.fd(), "Take.L.sd2"), EEXIST);
    EXPECT_EQ(readAll(pair->destination(0)), StagedPair::leftBytes());
    EXPECT_EQ(FileSafety::linkThenUnlink(from.fd(), "encoded-1.sd2", to.fd(), "moved.sd2"), 0);
    EXPECT_EQ(lstatOf(out("moved.sd2")).st_nlink, 1U);
    EXPECT_FALSE(exists(pair->outputs[1].toLocalFile()));
    const QString far = folderOnAnotherFileSystem(dir.path());
    if (far.isEmpty())
        return;
    EXPECT_EQ(posixCode([&] { FileSafety::publish(fileUrl(out("moved.sd2")), fileUrl(far + "/Take.R.sd2")); }), EXDEV);
    EXPECT_TRUE(exists(out("moved.sd2")));
    QDir(far).removeRecursively();
}

TEST_F(SplitExportTest, EachPublishedNameReachesTheDiskBeforeTheJournalMovesOn)
{
    pair->begun();
    for (int i = 0; i < 2; ++i) {
        seenCalls.clear();
        FileSystemCall::setObserver([](const char *operation) { seenCalls.emplace_back(operation); });
        pair->publish(i);
        FileSystemCall::setObserver(nullptr);
        ASSERT_GE(seenCalls.size(), 3u);
        EXPECT_EQ(std::vector(seenCalls.end() - 3, seenCalls.end()), (std::vector<std::string>{"rename", "fsync", "fsync"}))
            << "both folders are synced right after the rename";
    }
}

TEST_F(SplitExportTest, FoldersAndFilesAreExactlyTheRecordedOnes)
{
    makeLink(dir.file("out"), dir.file("link"));
    for (const QUrl &refused : {fileUrl(dir.file("link")), pair->outputs[0], fileUrl(dir.file("missing"))})
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(refused); }), EACCES) << refused.toString().toStdString();
    const SourceFileIdentity folder = SourceFileIdentity::ofPath(dir.file("out")).value();
    const std::function<void(SourceFileIdentity &)> changes[] = {
        [](SourceFileIdentity &i) { i.volume = "ANOTHER"; }, [](SourceFileIdentity &i) { i.generation = 7; },
        [](SourceFileIdentity &i) { i.birthNanoseconds += 1; }, [](SourceFileIdentity &i) { i.birthSeconds -= 1; },
        [](SourceFileIdentity &i) { i.inode += 1; }};
    for (const auto &change : changes) {
        SourceFileIdentity changed = folder;
        change(changed);
        // The volume text is not compared: the folder is found through its path.
        EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("out")), changed); }),
                  changed.volume == folder.volume ? EACCES : 0);
    }

    pair->begun();
    const auto journal = TemporaryAudioSafety::read<SplitExportTransaction::Journal>(fileUrl(pair->inStage("tampod-pair.json")));
    const SplitExportTransaction::File &left = journal.files[0];
    const QString path = pair->outputs[0].toLocalFile();
    const quint64 device = statusOf(pair->stagePath()).device;
    EXPECT_TRUE(FileSafety::isOwned(statusOf(path), left, device));
    SplitExportTransaction::File reborn = left;
    reborn.identity.birthNanoseconds += 1;
    makeLink(path, pair->inStage("link"));
    for (const auto &[entry, file, onDevice] : {std::tuple{path, journal.files[1], device}, {path, left, device + 1},
                                                {path, reborn, device}, {pair->stagePath(), left, device},
                                                {pair->inStage("link"), left, device}})
        EXPECT_FALSE(FileSafety::isOwned(statusOf(entry), file, onDevice)) << "another file";
    FileHandle::open(path, O_WRONLY | O_APPEND).writeAll("!");
    EXPECT_EQ(posixCode([&] { FileSafety::isOwned(statusOf(path), left, device); }), EACCES) << "grown by a byte";

    if (!runningAsRoot())
        return;
    makeFolder(dir.file("theirs"));
    giveAway(dir.file("theirs"));
    EXPECT_EQ(posixCode([&] { FileSafety::openDirectory(fileUrl(dir.file("theirs"))); }), EACCES);
    const FileStatus status = statusOf(path);
    const SplitExportTransaction::File current{left.staged, left.destination, left.identity,
                                               status.size, status.modifiedSeconds, status.modifiedNanoseconds};
    EXPECT_TRUE(FileSafety::isOwned(status, current, device));
    giveAway(path);
    EXPECT_EQ(posixCode([&] { FileSafety::isOwned(statusOf(path), current, device); }), EACCES);
}
