#include "core/error.h"
#include "core/file_handle.h"
#include "core/file_system_call.h"
#include "core/folder.h"

#include "support/file_fixtures.h"

#include <QFile>

#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace tampod;
using tampod::test::TempDir;

namespace {

std::vector<std::string> seenCalls;
void recordCall(const char *operation)
{
    seenCalls.emplace_back(operation);
}

} // namespace

TEST(FileLayer, OutsideOpenRefusesEverythingButARegularFileAtOnce)
{
    TempDir dir;
    test::writeFile(dir.file("real.wav"), "RIFF");
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file("pipe.wav")).constData(), 0600), 0);
    ASSERT_EQ(::mkdir(QFile::encodeName(dir.file("folder.wav")).constData(), 0700), 0);
    ASSERT_EQ(::symlink("real.wav", QFile::encodeName(dir.file("link.wav")).constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(dir.file("socket.wav"));
    std::copy_n(socketPath.constData(), socketPath.size() + 1, address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    EXPECT_EQ(FileHandle::openOutside(dir.file("real.wav")).readUpTo(10), "RIFF");
    EXPECT_EQ(FileHandle::openOutside(dir.file("link.wav")).readUpTo(10), "RIFF");
    EXPECT_EQ(test::posixCode([&] { FileHandle::openOutside(dir.file("link.wav"), LinkPolicy::NoFollow); }), ELOOP);
    for (const auto &[path, code, text] :
         {std::tuple{dir.file("pipe.wav"), EINVAL, "“pipe.wav” is not a regular file (a pipe, socket or device)."},
          {dir.file("folder.wav"), EISDIR, "“folder.wav” is a folder, not a file."},
          {QStringLiteral("/dev/zero"), EINVAL, "“zero” is not a regular file (a pipe, socket or device)."}}) {
        EXPECT_EQ(test::posixCode([&] { FileHandle::openOutside(path); }), code) << path.toStdString();
        EXPECT_EQ(test::thrownText<NotARegularFile>([&] { FileHandle::openOutside(path); }), QString::fromUtf8(text));
    }
    // A socket cannot be opened at all; it must still fail, never hang.
    EXPECT_THROW(FileHandle::openOutside(dir.file("socket.wav")), SystemError);
    ::close(sock);
    // The descriptor handed back is blocking again, as readers expect.
    EXPECT_EQ(::fcntl(FileHandle::openOutside(dir.file("real.wav")).fd(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(FileLayer, FolderWritesNeverFollowOrReplace)
{
    TempDir dir;
    Folder folder = Folder::open(dir.path(), LinkPolicy::NoFollow);
    folder.writeAtomically("record.json", "one");
    folder.writeAtomically("record.json", "two");
    EXPECT_EQ(test::readAll(dir.file("record.json")), "two");
    EXPECT_EQ(QFile::permissions(dir.file("record.json")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    EXPECT_THROW(folder.writeExclusively("record.json", "three"), SystemError);
    ASSERT_EQ(::symlink("elsewhere", QFile::encodeName(dir.file("dangling")).constData()), 0);
    EXPECT_THROW(folder.createExclusive("dangling"), SystemError);
    EXPECT_FALSE(QFile::exists(dir.file("elsewhere")));
    EXPECT_THROW(Folder::open(dir.file("dangling"), LinkPolicy::NoFollow), SystemError);

    const mode_t old = ::umask(0077);
    Folder made = folder.makePrivateFolder("jobs", 0750);
    ::umask(old);
    EXPECT_EQ(made.status(".", LinkPolicy::NoFollow)->st_mode & 07777, 0750u);
    EXPECT_EQ(made.path(), dir.file("jobs"));
    EXPECT_FALSE(folder.status("missing", LinkPolicy::NoFollow).has_value());

    int count = 0;
    EXPECT_FALSE(folder.visitEntries(100, [&](const Folder::Entry &) { return ++count, false; }));
    EXPECT_EQ(count, 3);
    EXPECT_TRUE(folder.visitEntries(100, [](const Folder::Entry &e) {
        return std::string(e.name) == "jobs";
    }));
}

TEST(FileLayer, AtomicWriteLeftoversAreRecognisedByName)
{
    // name, the record it must belong to ("" for any), whether it is a leftover
    for (const auto &[name, record, leftover] : {std::tuple{".record.json.tmp-a9z", "record.json", true},
             {".record.json.tmp-a9z", "", true}, {".record.json.tmp-a9z", "other.json", false},
             {".record.json.tmp-", "record.json", false}, {".record.json.tmp-A9", "record.json", false},
             {"record.json.tmp-a9", "record.json", false}, {"..tmp-a9", "", false}})
        EXPECT_EQ(Folder::isAtomicWriteLeftover(name, record), leftover) << name << " " << record;
}

TEST(FileLayer, EveryChangingCallIsSeenBeforeItIsMade)
{
    TempDir dir;
    Folder folder = Folder::open(dir.path());
    seenCalls.clear();
    FileSystemCall::setObserver(recordCall);
    folder.writeAtomically("a", "x");
    FileSystemCall::setObserver(nullptr);
    EXPECT_EQ(seenCalls, (std::vector<std::string>{"open", "write", "fsync", "rename", "fsync"}));
}
