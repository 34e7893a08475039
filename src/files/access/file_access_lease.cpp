#include "files/access/file_access_lease.h"

#include <atomic>

namespace tampod {

namespace {
std::atomic<int> active{0}; // thread: any (atomic)
}

FileAccessLease::FileAccessLease(QUrl url)
    : url_(std::move(url)), scoped_(url_.isLocalFile())
{
    if (scoped_)
        active.fetch_add(1, std::memory_order_relaxed);
}

FileAccessLease::~FileAccessLease()
{
    if (scoped_)
        active.fetch_sub(1, std::memory_order_relaxed);
}

int FileAccessLease::activeCount()
{
    return active.load(std::memory_order_relaxed);
}

} // namespace tampod
