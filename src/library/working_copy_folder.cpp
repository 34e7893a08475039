#include "library/working_copy_folder.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tampod {

namespace {

// Depth is bounded so that a hostile tree cannot exhaust the stack.
constexpr int maximumDepth = 32;

void removeContents(int dirFd, int depth)
{
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, ".."))
            continue;
        if (::unlinkat(dirFd, name, 0) == 0)
            continue;
        if (errno != EISDIR || depth >= maximumDepth)
            continue;
        const int child = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
            continue;
        removeContents(child, depth + 1);
        ::unlinkat(dirFd, name, AT_REMOVEDIR);
    }
    ::closedir(dir);
}

} // namespace

WorkingCopyFolder::WorkingCopyFolder(QString folder, Remover remover)
    : folder_(std::move(folder)), remover_(std::move(remover))
{
}

WorkingCopyFolder::~WorkingCopyFolder()
{
    if (folder_.isEmpty())
        return;
    if (remover_)
        remover_(folder_);
    else
        removeTree(folder_);
}

QString WorkingCopyFolder::folderOf(const QString &filePath)
{
    const qsizetype slash = filePath.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : filePath.left(slash);
}

void WorkingCopyFolder::removeTree(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        // A link in place of the folder is removed itself, never followed.
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(path.constData());
        return;
    }
    removeContents(dirFd, 0);
    ::rmdir(path.constData());
}

} // namespace tampod
