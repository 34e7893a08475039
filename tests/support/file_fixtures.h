#pragma once

// File-system scenes for tests: small helpers that make, inspect and compare folders.
#include "core/error.h"
#include "core/native_path.h"
#include "support/test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Readable failures for texts and lists of them.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace tampod::test {

// The POSIX code a call fails with, 0 when it succeeds, -1 for any other error.
inline int posixCode(const std::function<void()> &call)
{
    try {
        call();
        return 0;
    } catch (const SystemError &error) {
        return error.errnoValue();
    } catch (...) {
        return -1;
    }
}

// The user text of the error E that a call throws; a marker text when it throws none.
template <typename E>
QString thrownText(const std::function<void()> &call)
{
    try {
        call();
    } catch (const E &error) {
        return error.message();
    }
    return QStringLiteral("<nothing thrown>");
}

inline QUrl fileUrl(const QString &path) { return QUrl::fromLocalFile(path); }
inline QByteArray encoded(const QString &path) { return encodedPath(path); }

inline struct stat lstatOf(const QString &path)
{
    struct stat status {};
    EXPECT_EQ(::lstat(encoded(path).constData(), &status), 0) << path.toStdString();
    return status;
}

inline mode_t permissionsOf(const QString &path) { return lstatOf(path).st_mode & 07777; }

inline bool exists(const QString &path)
{
    struct stat status {};
    return ::lstat(encoded(path).constData(), &status) == 0;
}

inline void makeFolder(const QString &path, mode_t mode = 0700)
{
    ASSERT_EQ(::mkdir(encoded(path).constData(), mode), 0) << path.toStdString();
    ASSERT_EQ(::chmod(encoded(path).constData(), mode), 0);
}

inline void makeLink(const QString &target, const QString &path)
{
    ASSERT_EQ(::symlink(encoded(target).constData(), encoded(path).constData()), 0);
}

inline void rename(const QString &from, const QString &to)
{
    ASSERT_EQ(::rename(encoded(from).constData(), encoded(to).constData()), 0);
}

inline QStringList entriesOf(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Removes every entry of a folder but the `kept` ones.
inline void keepOnly(const QString &folder, const QStringList &kept = {})
{
    for (const QString &name : entriesOf(folder)) {
        const QString path = folder + "/" + name;
        EXPECT_TRUE(kept.contains(name) || QFile::remove(path) || QDir(path).removeRecursively()) << path.toStdString();
    }
}

// Runs `child` in a forked process and returns its exit status (-1 when it did not exit).
inline int inChild(const std::function<int()> &child)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 2;
        try {
            code = child();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A new folder on another file system than `here` (a memory file system), when the machine
// has one; removed by the caller.
inline QString folderOnAnotherFileSystem(const QString &here)
{
    struct stat a {}, b {};
    const QString folder = "/dev/shm/tampod-test-" + QFileInfo(here).fileName();
    if (::stat("/dev/shm", &a) != 0 || ::stat(encoded(here).constData(), &b) != 0 || a.st_dev == b.st_dev
        || ::mkdir(encoded(folder).constData(), 0700) != 0)
        return {};
    return folder;
}

// Ownership cases need another user's file, which only root can make.
inline bool runningAsRoot() { return ::geteuid() == 0; }

inline void giveAway(const QString &path)
{
    ASSERT_EQ(::lchown(encoded(path).constData(), 65534, 65534), 0);
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

// Every entry under root (relative path → kind and content digest), leaving out the subtrees
// whose relative paths start with one of `excluded`. Links are described, never followed.
inline QMap<QString, QByteArray> snapshot(const QString &root, const QStringList &excluded = {})
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size() + 1);
        if (std::any_of(excluded.begin(), excluded.end(), [&](const QString &p) { return relative.startsWith(p); }))
            continue;
        const struct stat status = lstatOf(path);
        const QByteArray mode = QByteArray::number(status.st_mode, 8);
        if (S_ISLNK(status.st_mode))
            entries[relative] = "link:" + encoded(QFileInfo(path).symLinkTarget());
        else if (S_ISREG(status.st_mode))
            entries[relative] = "file " + mode + ":" + QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex();
        else
            entries[relative] = "other " + mode;
    }
    return entries;
}

} // namespace tampod::test
