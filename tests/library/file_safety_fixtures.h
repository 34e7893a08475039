#pragma once

#include "core/error.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

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

inline QUrl fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

inline struct stat lstatOf(const QString &path)
{
    struct stat status {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
    return status;
}

inline mode_t permissionsOf(const QString &path)
{
    return lstatOf(path).st_mode & 07777;
}

inline bool exists(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

inline void makeFolder(const QString &path, mode_t mode = 0700)
{
    ASSERT_EQ(::mkdir(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

inline void makeLink(const QString &target, const QString &path)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
}

inline QStringList entriesOf(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Ownership cases need another user's file, which only root can make.
inline bool runningAsRoot()
{
    return ::geteuid() == 0;
}

inline void giveAway(const QString &path)
{
    ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), 65534, 65534), 0);
}

// Sets the umask for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

private:
    mode_t previous_;
};

} // namespace tampod::test
