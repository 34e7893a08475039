#include "core/file_system_call.h"

#include <atomic>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tampod::FileSystemCall {

namespace {
std::atomic<Observer> observer{nullptr};

struct ReadFault {
    dev_t device = 0;
    ino_t inode = 0;
    qint64 from = 0;
    qint64 to = 0;
};
std::atomic<bool> readFaultSet{false};
std::mutex readFaultMutex;
ReadFault readFault; // guarded by readFaultMutex

bool readFails(int fd, size_t count, off_t offset) noexcept
{
    if (!readFaultSet.load(std::memory_order_relaxed) || count == 0)
        return false;
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return false;
    std::lock_guard lock(readFaultMutex);
    return status.st_dev == readFault.device && status.st_ino == readFault.inode && offset < readFault.to
           && offset + qint64(count) > readFault.from;
}
} // namespace

void setObserver(Observer newObserver) noexcept
{
    observer.store(newObserver);
}

void notify(const char *operation) noexcept
{
    if (const Observer current = observer.load(std::memory_order_relaxed))
        current(operation);
}

ssize_t readAt(int fd, void *buffer, size_t count, off_t offset) noexcept
{
    if (readFails(fd, count, offset)) {
        errno = EIO;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, count, offset);
        if (!(n < 0 && errno == EINTR))
            return n;
    }
}

void failReads(int fd, qint64 from, qint64 to) noexcept
{
    struct stat status {};
    const bool set = from < to && ::fstat(fd, &status) == 0;
    std::lock_guard lock(readFaultMutex);
    readFault = set ? ReadFault{status.st_dev, status.st_ino, from, to} : ReadFault{};
    readFaultSet.store(set);
}

} // namespace tampod::FileSystemCall
