#include "files/access/file_access_lease.h"
#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "files/access/source_file_access.h"
#include "files/access/source_file_identity.h"
#include "files/access/tracked_file_url.h"

#include "core/strict_json.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace tampod;

namespace {

QUrl fileURL(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

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

QString bookmarkPath(const QByteArray &bookmark)
{
    return StrictJson::requireString(StrictJson::parse(bookmark), "path");
}

} // namespace

TEST(SourceFileIdentity, JsonFormAndEquality)
{
    SourceFileIdentity identity;
    identity.volume = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
    identity.inode = 18446744073709551615ull;
    identity.birthSeconds = 1700000000;
    identity.birthNanoseconds = 123456789;
    identity.generation = 0;

    const QByteArray text = StrictJson::dump(identity.toJson());
    EXPECT_EQ(SourceFileIdentity::fromJson(StrictJson::parse(text)), identity);
    for (const char *key : {"volume", "inode", "birthSeconds", "birthNanoseconds", "generation"}) {
        auto json = identity.toJson();
        json.erase(key);
        EXPECT_THROW(SourceFileIdentity::fromJson(json), JsonError) << key;
    }
    auto tooLarge = identity.toJson();
    tooLarge["generation"] = 4294967296ull;
    EXPECT_THROW(SourceFileIdentity::fromJson(tooLarge), JsonError);
}

TEST(SourceFileIdentity, ReadFromRealFiles)
{
    test::TempDir dir;
    const QString path = dir.file("a.wav");
    test::writeFile(path, "RIFF");
    const auto identity = SourceFileIdentity::ofPath(path);
    ASSERT_TRUE(identity) << "the test folder's file system keeps no birth time";
    EXPECT_EQ(identity->volume, identity->volume.toUpper());
    EXPECT_EQ(identity->volume.count(QLatin1Char('-')), 4);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(identity->inode, st.st_ino);
    EXPECT_NE(identity->birthSeconds, 0);

    EXPECT_EQ(SourceFileIdentity::ofPath(dir.file("absent.wav")), std::nullopt);
    EXPECT_EQ(SourceFileIdentity::of(QUrl("https://example.invalid/a.wav")), std::nullopt);
    // A symbolic link has the identity of its target.
    ASSERT_EQ(::symlink(QFile::encodeName(path).constData(), QFile::encodeName(dir.file("link.wav")).constData()), 0);
    EXPECT_EQ(SourceFileIdentity::ofPath(dir.file("link.wav")), identity);
}

TEST(FileAccessLease, StopsOnlyWhatItStarted)
{
    const int before = FileAccessLease::activeCount();
    {
        FileAccessLease unavailable(QUrl("tampod-unavailable:0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
        EXPECT_FALSE(unavailable.scoped());
    }
    EXPECT_EQ(FileAccessLease::activeCount(), before);
    {
        FileAccessLease file(fileURL("/music/a.wav"));
        EXPECT_TRUE(file.scoped());
        EXPECT_EQ(FileAccessLease::activeCount(), before + 1);
    }
    EXPECT_EQ(FileAccessLease::activeCount(), before);
}

TEST(MissingAudioSource, CheckAndMessages)
{
    test::TempDir dir;
    const QString path = dir.file("Song.wav");
    test::writeFile(path, "RIFF");
    EXPECT_NO_THROW(MissingAudioSource::check(fileURL(path), "Song.wav"));

    const QString missing = QStringLiteral(
        "Song.wav is no longer available. Reconnect its disk or restore the file, then try again. If it was moved "
        "to another disk, remove its library row and reopen it from its current folder. Removing a row does not "
        "delete audio.");
    EXPECT_EQ(thrownText<MissingAudioSource>([&] { MissingAudioSource::check(fileURL(dir.file("gone.wav")), "Song.wav"); }),
              missing);
    // A path through a file is ENOTDIR: still a missing file.
    EXPECT_EQ(thrownText<MissingAudioSource>([&] { MissingAudioSource::check(fileURL(path + "/x"), "Song.wav"); }),
              missing);
    EXPECT_EQ(thrownText<MissingAudioSource>(
                  [&] { MissingAudioSource::check(QUrl("tampod-unavailable:0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"), "Song.wav"); }),
              missing);
    // A loop of links is neither missing nor denied: the system's error comes through.
    ASSERT_EQ(::symlink("loop", QFile::encodeName(dir.file("loop")).constData()), 0);
    EXPECT_THROW(MissingAudioSource::check(fileURL(dir.file("loop")), "loop"), SystemError);

    auto caught = [](auto error) { return std::make_exception_ptr(error); };
    EXPECT_EQ(MissingAudioSource::message(caught(MissingAudioSource("Song.wav"))), missing);
    EXPECT_EQ(MissingAudioSource::message(caught(SourceAccessFailure::denied())), deniedText);
    EXPECT_EQ(MissingAudioSource::message(caught(SourceAccessFailure::differentFile())),
              "That is not the original loaded file. Select the same file at its new location. A copy or "
              "replacement must be opened as a new library entry; your current audio and settings are unchanged.");
    EXPECT_EQ(MissingAudioSource::message(caught(MalformedData("bad frame"))), std::nullopt);
    EXPECT_EQ(MissingAudioSource::message(caught(SystemError(EIO, "read"))), std::nullopt);
    EXPECT_EQ(MissingAudioSource::message(nullptr), std::nullopt);
}

TEST(SourceFileAccess, FollowsARenameWithinItsFolder)
{
    test::TempDir dir;
    const QString before = dir.file("Take.wav");
    const QString after = dir.file("Take renamed.wav");
    test::writeFile(before, "RIFF-original");
    const TrackedFileURL tracked(fileURL(before));
    EXPECT_EQ(tracked.wrappedValue(), fileURL(before));

    ASSERT_EQ(std::rename(QFile::encodeName(before).constData(), QFile::encodeName(after).constData()), 0);
    EXPECT_EQ(tracked.wrappedValue(), fileURL(after));
    EXPECT_EQ(tracked.projectedValue(), fileURL(before));
    ASSERT_TRUE(tracked.source()->bookmark());
    EXPECT_EQ(bookmarkPath(*tracked.source()->bookmark()), after) << "a stale bookmark is rewritten";
    ASSERT_TRUE(tracked.source()->lease());
    EXPECT_EQ(tracked.source()->lease()->url(), fileURL(after));

    // Renamed again, and a new file now sits at the first name: still the original.
    const QString third = dir.file("Take third.wav");
    ASSERT_EQ(std::rename(QFile::encodeName(after).constData(), QFile::encodeName(third).constData()), 0);
    test::writeFile(before, "RIFF-impostor");
    EXPECT_EQ(tracked.wrappedValue(), fileURL(third));
}

TEST(SourceFileAccess, RefusesAFileReplacedByACopy)
{
    // Replaced by renaming a copy over it (new inode), and by deleting it and writing anew
    // (the inode number may be reused; the birth time still differs).
    for (const bool reuse : {false, true}) {
        test::TempDir dir;
        const QString path = dir.file("Song.wav");
        test::writeFile(path, "RIFF-original");
        const TrackedFileURL tracked(fileURL(path));
        ASSERT_EQ(tracked.wrappedValue(), fileURL(path));

        if (reuse) {
            ASSERT_TRUE(QFile::remove(path));
            ::usleep(20'000); // a later birth time even on coarse clocks
            test::writeFile(path, "RIFF-original");
        } else {
            test::writeFile(dir.file("copy.tmp"), "RIFF-original");
            ASSERT_EQ(std::rename(QFile::encodeName(dir.file("copy.tmp")).constData(), QFile::encodeName(path).constData()), 0);
        }
        const QUrl resolved = tracked.wrappedValue();
        EXPECT_TRUE(resolved.toString().startsWith("tampod-unavailable:")) << resolved.toString().toStdString();
        EXPECT_EQ(resolved, tracked.source()->unavailable());
        EXPECT_EQ(thrownText<MissingAudioSource>([&] { MissingAudioSource::check(resolved, "Song.wav"); }).left(35),
                  "Song.wav is no longer available. Re");

        const auto bookmarkBefore = tracked.source()->bookmark();
        EXPECT_EQ(thrownText<SourceAccessFailure>([&] { tracked.source()->restoreAccess(fileURL(path)); }).left(38),
                  "That is not the original loaded file. ");
        EXPECT_EQ(tracked.source()->bookmark(), bookmarkBefore) << "a refused restore changes nothing";
        EXPECT_EQ(tracked.wrappedValue(), tracked.source()->unavailable());
    }
}

TEST(SourceFileAccess, RestoresAccessToTheSameFileMovedElsewhere)
{
    test::TempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("other"));
    const QString path = dir.file("Loop.wav");
    const QString moved = dir.file("other/Loop.wav");
    test::writeFile(path, "RIFF");
    const TrackedFileURL tracked(fileURL(path));
    ASSERT_EQ(std::rename(QFile::encodeName(path).constData(), QFile::encodeName(moved).constData()), 0);
    // A move to another folder is not followed.
    EXPECT_EQ(tracked.wrappedValue(), tracked.source()->unavailable());

    tracked.source()->restoreAccess(fileURL(moved));
    EXPECT_EQ(tracked.wrappedValue(), fileURL(moved));
    EXPECT_EQ(bookmarkPath(*tracked.source()->bookmark()), moved);
}

TEST(SourceFileAccess, WithoutIdentityOrReferenceAnswersTheOriginal)
{
    const QUrl web("https://example.invalid/a.wav");
    const TrackedFileURL tracked(web);
    EXPECT_EQ(tracked.wrappedValue(), web);
    EXPECT_THROW(tracked.source()->restoreAccess(web), SourceAccessFailure);

    const QUrl absent = fileURL("/nonexistent-folder-for-tests/a.wav");
    EXPECT_EQ(TrackedFileURL(absent).wrappedValue(), absent);
}

// The child side of the denied-access case: the file belongs to this user and is readable
// until the probe takes its own permission away.
static void probeDeniedAccess(const QString &path)
{
    const TrackedFileURL tracked(fileURL(path));
    ASSERT_EQ(tracked.wrappedValue(), fileURL(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    const QUrl resolved = tracked.wrappedValue();
    EXPECT_EQ(resolved, fileURL(path)) << "the same file, unreadable, is still answered by its known path";
    EXPECT_EQ(thrownText<SourceAccessFailure>([&] { MissingAudioSource::check(resolved, "Denied.wav"); }), deniedText);
    EXPECT_EQ(thrownText<SourceAccessFailure>([&] { tracked.source()->restoreAccess(fileURL(path)); }), deniedText);
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

    test::TempDir dir;
    const QString path = dir.file("Denied.wav");
    test::writeFile(path, "RIFF");
    if (::geteuid() != 0) {
        probeDeniedAccess(path);
        return;
    }
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);

    QProcess child;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAMPOD_DENIED_PROBE", path);
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    child.setProcessEnvironment(environment);
    child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QCoreApplication::applicationFilePath(),
                            "--gtest_filter=SourceFileAccess.UnreadableFileIsDeniedNotMissing"});
    ASSERT_TRUE(child.waitForFinished(60'000));
    const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("denied-probe-passed")) << output.constData();
}
