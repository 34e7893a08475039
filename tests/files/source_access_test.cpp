#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "files/access/source_file_access.h"
#include "files/access/source_file_identity.h"
#include "files/access/tracked_file_url.h"

#include "core/strict_json.h"
#include "support/file_fixtures.h"

#include <QProcess>
#include <QUuid>

#include <cstdio>

using namespace tampod;
using namespace tampod::test;

namespace {

template <typename E>
QString thrownText(const std::function<void()> &body)
{
    try {
        body();
    } catch (const E &e) {
        return e.message();
    }
    return QStringLiteral("<nothing thrown>");
}

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
    EXPECT_EQ(QUuid::fromString(identity->volume).toString(QUuid::WithoutBraces).toUpper(), identity->volume);
    EXPECT_EQ(identity->inode, lstatOf(path).st_ino);
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
    EXPECT_EQ(message(MissingAudioSource("Song.wav")), missingText);
    EXPECT_EQ(message(SourceAccessFailure::denied()), deniedText);
    EXPECT_EQ(message(SourceAccessFailure::differentFile()), differentText);
    EXPECT_EQ(message(MalformedData("bad frame")), std::nullopt);
    EXPECT_EQ(message(SystemError(EIO, "read")), std::nullopt);
    EXPECT_EQ(MissingAudioSource::message(nullptr), std::nullopt);
}

TEST(SourceFileAccess, FollowsARenameWithinItsFolderButNotAReplacement)
{
    TempDir dir;
    writeFile(dir.file("Song.wav"), "RIFF-original");
    const TrackedFileURL tracked(fileUrl(dir.file("Song.wav")));
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("Song.wav")));

    rename(dir.file("Song.wav"), dir.file("Song renamed.wav"));
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(dir.file("Song renamed.wav")));
    EXPECT_EQ(tracked.projectedValue(), fileUrl(dir.file("Song.wav")));
    EXPECT_EQ(bookmarkPath(tracked.source()->bookmark().value()), dir.file("Song renamed.wav")) << "rewritten";
    EXPECT_EQ(tracked.source()->lease()->url(), fileUrl(dir.file("Song renamed.wav")));
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
        EXPECT_TRUE(original.source()->unavailable().toString().startsWith("tampod-unavailable:"));
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

// The child side of the denied-access case: the file belongs to this user and is readable
// until the probe takes its own permission away.
static void probeDeniedAccess(const QString &path)
{
    const TrackedFileURL tracked(fileUrl(path));
    ASSERT_EQ(tracked.wrappedValue(), fileUrl(path));
    ASSERT_EQ(::chmod(encoded(path).constData(), 0), 0);
    EXPECT_EQ(tracked.wrappedValue(), fileUrl(path)) << "the same file, unreadable, is still answered by its path";
    EXPECT_EQ(thrownText<SourceAccessFailure>([&] { MissingAudioSource::check(fileUrl(path), "Denied.wav"); }), deniedText);
    EXPECT_EQ(thrownText<SourceAccessFailure>([&] { tracked.source()->restoreAccess(fileUrl(path)); }), deniedText);
}

// Root reads everything, so as root the probe runs in a child process with the ids of
// "nobody", on a file given to that user.
TEST(SourceFileAccess, UnreadableFileIsDeniedNotMissing)
{
    const QByteArray probe = qgetenv("TAMPOD_DENIED_PROBE");
    if (!probe.isEmpty()) {
        probeDeniedAccess(QFile::decodeName(probe));
        if (!::testing::Test::HasFailure())
            std::fputs("denied-probe-passed\n", stdout);
        return;
    }
    TempDir dir;
    const QString path = dir.file("Denied.wav");
    writeFile(path, "RIFF");
    if (!runningAsRoot())
        return probeDeniedAccess(path);
    ASSERT_EQ(::chmod(encoded(dir.path()).constData(), 0755), 0);
    giveAway(path);
    QProcess child;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAMPOD_DENIED_PROBE", path);
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    child.setProcessEnvironment(environment);
    child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QCoreApplication::applicationFilePath(),
                            "--gtest_filter=SourceFileAccess.UnreadableFileIsDeniedNotMissing"});
    ASSERT_TRUE(child.waitForFinished(60'000));
    const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
    EXPECT_TRUE(child.exitCode() == 0 && output.contains("denied-probe-passed")) << output.constData();
}
