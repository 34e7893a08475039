#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "files/access/source_bookmark.h"
#include "files/access/source_file_access.h"
#include "files/access/source_file_identity.h"
#include "files/access/tracked_file_url.h"

#include "core/native_path.h"
#include "core/strict_json.h"
#include "support/file_fixtures.h"

#include <fcntl.h>

using namespace tampod;
using namespace tampod::test;

namespace {

const QString deniedText = QString::fromUtf8(
    "tamPOD cannot read the source. Choose Restore File Access\u2026 and select the original file at its current "
    "location, then retry. For a batch, close the results, restore access from the File menu, and start a new "
    "batch.");
const QString missingText = QStringLiteral(
    "Song.wav is no longer available. Reconnect its disk or restore the file, then try again. If it was moved "
    "to another disk, remove its library row and reopen it from its current folder. Removing a row does not "
    "delete audio.");
const QString differentText = QStringLiteral(
    "That is not the original loaded file. Select the same file at its new location. A copy or replacement must be "
    "opened as a new library entry; your current audio and settings are unchanged.");

QString bookmarkPath(const QByteArray &bookmark)
{
    return StrictJson::requireString(StrictJson::parse(bookmark), "path");
}

} // namespace

TEST(SourceFileIdentity, ReadFromRealFilesAndJson)
{
    TempDir dir;
    const QString path = dir.file("a.wav");
    writeFile(path, "RIFF");
    const auto identity = SourceFileIdentity::ofPath(path);
    ASSERT_TRUE(identity);
    makeLink(path, dir.file("link.wav"));
    EXPECT_EQ(SourceFileIdentity::ofPath(dir.file("link.wav")), identity) << "a link has its target's identity";
    EXPECT_EQ(SourceFileIdentity::ofPath(dir.file("absent.wav")), std::nullopt);
    EXPECT_EQ(SourceFileIdentity::of(QUrl("https://example.invalid/a.wav")), std::nullopt);

    const SourceFileIdentity limits{"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", UINT64_MAX, -1, 999999999, UINT32_MAX};
    EXPECT_EQ(SourceFileIdentity::fromJson(StrictJson::parse(StrictJson::dump(limits.toJson()))), limits);
    for (const char *key : {"volume", "inode", "birthSeconds", "birthNanoseconds", "generation"}) {
        auto json = limits.toJson();
        json.erase(key);
        EXPECT_THROW(SourceFileIdentity::fromJson(json), JsonError) << key;
    }
    auto tooLarge = limits.toJson();
    tooLarge["generation"] = 4294967296ull;
    EXPECT_THROW(SourceFileIdentity::fromJson(tooLarge), JsonError);
}

TEST(MissingAudioSource, CheckAndMessages)
{
    TempDir dir;
    const QString path = dir.file("Song.wav");
    writeFile(path, "RIFF");
    EXPECT_NO_THROW(MissingAudioSource::check(fileUrl(path), "Song.wav"));
    // A path through a file is ENOTDIR: still a missing file.
    for (const QUrl &missing : {fileUrl(dir.file("gone.wav")), fileUrl(path + "/x"),
                                QUrl("tampod-unavailable:0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")})
        EXPECT_EQ(thrownText<MissingAudioSource>([&] { MissingAudioSource::check(missing, "Song.wav"); }), missingText);
    // A loop of links is neither missing nor denied: the system's error comes through.
    makeLink("loop", dir.file("loop"));
    EXPECT_THROW(MissingAudioSource::check(fileUrl(dir.file("loop")), "loop"), SystemError);

    const auto message = [](auto error) { return MissingAudioSource::message(std::make_exception_ptr(error)); };
    EXPECT_EQ(message(SourceAccessFailure::denied()), deniedText);
    EXPECT_EQ(message(SystemError(EIO, "read")), std::nullopt);
}

TEST(SourceFileAccess, FollowsARenameWithinItsFolderButNotAReplacement)
{
    TempDir dir;
    writeFile(dir.file("Song.wav"), "RIFF-original");
    const TrackedFileURL tracked(fileUrl(dir.file("Song.wav")));
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("Song.wav")));

    rename(dir.file("Song.wav"), dir.file("Song renamed.wav"));
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("Song renamed.wav")));
    EXPECT_EQ(bookmarkPath(tracked.source()->bookmark().value()), dir.file("Song renamed.wav")) << "rewritten";
    // Renamed again, and a new file at the first name: still the original.
    rename(dir.file("Song renamed.wav"), dir.file("Song third.wav"));
    writeFile(dir.file("Song.wav"), "RIFF-impostor");
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("Song third.wav")));

    // Replaced by a copy renamed over it (new inode), or deleted and written anew (the inode
    // number may be reused; the birth time still differs).
    for (const bool reuse : {false, true}) {
        const TrackedFileURL original(fileUrl(dir.file("Song.wav")));
        if (reuse) {
            QFile::remove(dir.file("Song.wav"));
            ::usleep(20'000); // a later birth time even on coarse clocks
            writeFile(dir.file("Song.wav"), "RIFF-impostor");
        } else {
            writeFile(dir.file("copy.tmp"), "RIFF-impostor");
            rename(dir.file("copy.tmp"), dir.file("Song.wav"));
        }
        EXPECT_EQ(original.wrappedValue(), original.source()->unavailable());
        const auto before = original.source()->bookmark();
        EXPECT_EQ(thrownText<SourceAccessFailure>([&] { original.source()->restoreAccess(fileUrl(dir.file("Song.wav"))); }),
                  differentText);
        EXPECT_EQ(original.source()->bookmark(), before) << "a refused restore changes nothing";
    }
}

TEST(SourceFileAccess, RestoresAccessToTheSameFileMovedElsewhere)
{
    TempDir dir;
    makeFolder(dir.file("other"));
    writeFile(dir.file("Loop.wav"), "RIFF");
    const TrackedFileURL tracked(fileUrl(dir.file("Loop.wav")));
    rename(dir.file("Loop.wav"), dir.file("other/Loop.wav"));
    EXPECT_EQ(tracked.wrappedValue(), tracked.source()->unavailable()) << "a move to another folder is not followed";
    tracked.source()->restoreAccess(fileUrl(dir.file("other/Loop.wav")));
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("other/Loop.wav")));
    EXPECT_EQ(bookmarkPath(*tracked.source()->bookmark()), dir.file("other/Loop.wav"));

    const QUrl web("https://example.invalid/a.wav");
    EXPECT_EQ(TrackedFileURL(web).wrappedValue(), web) << "without identity or reference, the original";
    EXPECT_THROW(TrackedFileURL(web).source()->restoreAccess(web), SourceAccessFailure);
    EXPECT_EQ(TrackedFileURL(fileUrl("/nonexistent-folder-for-tests/a.wav")).wrappedValue(),
              fileUrl("/nonexistent-folder-for-tests/a.wav"));
}

// Root reads everything, so as root the probe runs in a child with the ids of "nobody", on a
// file given to that user, which it makes unreadable after loading it.
TEST(SourceFileAccess, UnreadableFileIsDeniedNotMissing)
{
    TempDir dir;
    const QString path = dir.file("Denied.wav");
    writeFile(path, "RIFF");
    if (runningAsRoot()) {
        ASSERT_EQ(::chmod(encoded(dir.path()).constData(), 0755), 0);
        giveAway(path);
    }
    EXPECT_EQ(inChild([&] {
                  if (runningAsRoot() && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                      return 3;
                  const TrackedFileURL tracked(fileUrl(path));
                  if (tracked.wrappedValue() != fileUrl(path) || ::chmod(encoded(path).constData(), 0) != 0)
                      return 4;
                  // The same file, unreadable, is still answered by its known path.
                  const auto check = [&] { MissingAudioSource::check(tracked.wrappedValue(), "Denied.wav"); };
                  const auto restore = [&] { tracked.source()->restoreAccess(fileUrl(path)); };
                  return thrownText<SourceAccessFailure>(check) == deniedText
                          && thrownText<SourceAccessFailure>(restore) == deniedText
                      ? 0
                      : 5;
              }),
              0);
}

// A name that is not UTF-8 is recorded by its bytes: the bookmark finds the same file again,
// also after a rename to another such name within its folder.
TEST(SourceBookmark, APathThatIsNotUtf8IsFoundAgainByItsBytes)
{
    TempDir dir;
    const QByteArray raw = encoded(dir.path()) + "/bad\xff\xfe.wav";
    const int made = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(made, 0);
    ::close(made);
    const QByteArray bookmark = SourceBookmark::create(fileUrl(decodedPath(raw))).value();
    const auto found = SourceBookmark::resolve(bookmark);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(encodedPath(found->url.toLocalFile()), raw);
    EXPECT_FALSE(found->stale);

    const QByteArray moved = encoded(dir.path()) + "/moved\xe9.wav";
    ASSERT_EQ(::rename(raw.constData(), moved.constData()), 0);
    const auto followed = SourceBookmark::resolve(bookmark);
    ASSERT_TRUE(followed.has_value());
    EXPECT_EQ(encodedPath(followed->url.toLocalFile()), moved);
    EXPECT_TRUE(followed->stale);
    EXPECT_FALSE(SourceBookmark::isGone(bookmark));
}
