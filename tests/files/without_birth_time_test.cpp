// Files on file systems that keep no birth time: played by a status source, and on a
// loop-mounted ext2 image where this machine allows mounting one.
#include "file_fixtures.h"

#include "files/access/tracked_file_url.h"
#include "files/internal/file_status.h"
#include "files/internal/volume_identity.h"

#include "support/run_program.h"

using namespace tampod;
using namespace tampod::test;

namespace {

enum class Kind { withGeneration, withoutGeneration, ext2 };
const char *const kindNames[] = {"PlayedWithGeneration", "PlayedWithoutGeneration", "Ext2Image"};

bool keepsGeneration = true;
std::uint64_t replacement = 0; // reported as `original`: a new file that reuses its inode number
std::uint64_t original = 0;

int statxWithoutBirth(int dirFd, const char *name, int flags, unsigned mask, struct statx *out)
{
    const int result = FileStatusSource::system().statx(dirFd, name, flags, mask, out);
    out->stx_mask &= ~STATX_BTIME;
    out->stx_btime = {};
    if (out->stx_ino == replacement)
        out->stx_ino = original;
    return result;
}

// Differs for every new file, as an inode generation does.
std::uint32_t generationFromBirth(int fd)
{
    struct statx real {};
    return keepsGeneration && ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &real) == 0
        ? (static_cast<std::uint32_t>(real.stx_btime.tv_nsec) ^ static_cast<std::uint32_t>(real.stx_btime.tv_sec)) | 1
        : 0;
}

const FileStatusSource withoutBirth{statxWithoutBirth, generationFromBirth};

bool run(const QString &program, const QStringList &arguments)
{
    return test::runProgram(program, arguments).succeeded;
}

class WithoutBirthTimeTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        folder = dir.file("disk/out");
        makeFolder(dir.file("disk"));
        if (GetParam() != Kind::ext2) {
            keepsGeneration = GetParam() == Kind::withGeneration;
            FileStatusSource::use(&withoutBirth);
        } else if (!runningAsRoot() || !run("mkfs.ext2", {"-q", "-F", "-I", "128", dir.file("image"), "4M"})
                   || !(mounted = run("mount", {"-o", "loop", dir.file("image"), dir.file("disk")}))) {
            GTEST_SKIP() << "this machine cannot mount an ext2 image";
        }
        makeFolder(folder);
    }
    void TearDown() override
    {
        FileStatusSource::use(nullptr);
        original = replacement = 0;
        if (mounted)
            run("umount", {dir.file("disk")});
    }

    TempDir dir;
    QString folder;
    bool mounted = false;
};

} // namespace

TEST_P(WithoutBirthTimeTest, ReplacementIsRefusedWhereAGenerationIsKept)
{
    const QString path = folder + "/Song.wav";
    writeFile(path, "RIFF-original");
    const auto identity = SourceFileIdentity::ofPath(path);
    ASSERT_TRUE(identity.has_value());
    EXPECT_EQ(identity->birthSeconds, 0);
    EXPECT_EQ(identity->generation != 0, GetParam() != Kind::withoutGeneration);
    const TrackedFileURL tracked(fileUrl(path));
    ASSERT_EQ(tracked.wrappedValue(), fileUrl(path));

    const std::uint64_t inode = lstatOf(path).st_ino;
    QFile::remove(path);
    writeFile(folder + "/new.wav", "RIFF-impostor");
    original = inode;
    replacement = lstatOf(folder + "/new.wav").st_ino;
    rename(folder + "/new.wav", path);
    if (GetParam() == Kind::ext2 && replacement != inode)
        GTEST_SKIP() << "the file system gave the new file another inode number";
    if (GetParam() != Kind::withoutGeneration) {
        EXPECT_EQ(tracked.wrappedValue(), tracked.source()->unavailable());
    }
}

TEST_P(WithoutBirthTimeTest, SplitExportsThereArePublishedAndRecovered)
{
    StagedPair finished(dir.file("store"), folder, "Finished");
    finished.begun().publish(0);
    finished.publish(1);
    StagedPair interrupted(finished.store, folder, "Interrupted");
    interrupted.begun().publish(0);
    finished.stage.remove();
    finished.abandon();
    interrupted.abandon();
    EXPECT_EQ(cleanUp(dir.file("store")), report(1, 0, 0, {}, 1));
    EXPECT_EQ(entriesOf(folder), (QStringList{"Finished.L.sd2", "Finished.R.sd2"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, WithoutBirthTimeTest,
                         ::testing::Values(Kind::withGeneration, Kind::withoutGeneration, Kind::ext2),
                         [](const auto &info) { return std::string(kindNames[static_cast<int>(info.param)]); });

TEST(VolumeIdentity, DeviceNumberStandsInForAMissingFileSystemId)
{
    const fsid_t none{}, some{{0x12345678, 0x0abcdef0}};
    const dev_t device = 0x0123456789abcdef, other = device + 1;
    EXPECT_EQ(VolumeIdentity::text(device, none), "00000000-0000-0000-0123-456789ABCDEF");
    EXPECT_NE(VolumeIdentity::text(other, none), VolumeIdentity::text(device, none));
    EXPECT_EQ(VolumeIdentity::text(device, some), "00000000-0000-0000-7856-3412F0DEBC0A");
}
