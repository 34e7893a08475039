#include "platform/decode/internal/length_cache.h"

#include "core/error.h"
#include "core/file_handle.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <time.h>

#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace tampod {

namespace {

constexpr int64_t second = 1'000'000'000;
// The longest an identity waits for the clock to pass its file's step, where its change time is
// ahead of the clock: file systems that keep hundredths or finer.
constexpr int64_t longestWait = second / 20;

int64_t nanoseconds(const timespec &time)
{
    return int64_t(time.tv_sec) * second + time.tv_nsec;
}

int64_t clockNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

// The coarsest step the file system may keep times in, as far as the times show: one that keeps
// whole seconds stores no fraction (FAT keeps even seconds), one that keeps hundredths none
// finer. Both times move at a change, so the finer of the two tells it. Fractions that end in
// zeros by chance only make a file wait longer before it is trusted.
int64_t stepOf(const LengthCache::Identity &id)
{
    const auto fraction = [](int64_t time) { return (time % second + second) % second; };
    const int64_t modified = fraction(id.modified), changed = fraction(id.changed);
    if (modified == 0 && changed == 0)
        return 2 * second;
    int64_t step = 1;
    while (modified % (step * 10) == 0 && changed % (step * 10) == 0)
        step *= 10;
    return step;
}

// How far behind the clock the time the system stamps files with may lag: it moves once a tick.
int64_t stampLag()
{
    static const int64_t lag = [] {
        timespec resolution{};
        return ::clock_getres(CLOCK_REALTIME_COARSE, &resolution) == 0 ? nanoseconds(resolution) : second / 100;
    }();
    return lag;
}

} // namespace

LengthCache::LengthCache(size_t files, size_t bytes, Senses senses)
    : maximumFiles_(files), maximumBytes_(bytes), senses_(std::move(senses))
{
}

LengthCache &LengthCache::shared()
{
    static LengthCache cache;
    return cache;
}

LengthCache::Status LengthCache::statusOf(const FileHandle &file)
{
    Status status{file.status(), 0};
    // Not every file system numbers its inodes' generations: those that do not leave it 0.
    long generation = 0; // room for either width the file systems write
    if (::ioctl(file.fd(), FS_IOC_GETVERSION, &generation) == 0)
        status.generation = uint32_t(generation);
    return status;
}

std::optional<LengthCache::Identity> LengthCache::identityOf(const FileHandle &file) const
{
    // The clock is read before the status: a change after the status is stamped no earlier than
    // now less the stamp's lag, so where that is a whole step past the change time the status
    // shows, any later change moves the times.
    const int64_t now = clock();
    try {
        const Identity identity = statusIdentity(file);
        const int64_t wait = stepOf(identity) + stampLag();
        if (now - identity.changed >= wait)
            return identity;
        // A change time ahead of the clock (set back since, or a file server's running ahead):
        // the file was stamped with it before its status was read, so once the clock has moved a
        // step on from then, any later change is stamped with another time, until the clock
        // comes within a step of that time, when a rewrite may be stamped with it again.
        const auto stillAhead = [&](int64_t at) { return identity.changed - at > wait; };
        if (!stillAhead(now))
            return std::nullopt;
        const int64_t seen = firstSeen(identity, clock());
        Identity ahead = identity;
        ahead.aheadOfClock = true;
        if (now - seen >= wait)
            return ahead;
        // A step this fine is waited out here, rather than the file walked again at its next open.
        if (seen + wait - now > longestWait)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::nanoseconds(seen + wait - now));
        const int64_t later = clock();
        if (later - seen >= wait && stillAhead(later) && statusIdentity(file) == identity)
            return ahead;
        return std::nullopt;
    } catch (const SystemError &) {
        return std::nullopt;
    }
}

int64_t LengthCache::clock() const
{
    return senses_.now ? senses_.now() : clockNow();
}

LengthCache::Identity LengthCache::statusIdentity(const FileHandle &file) const
{
    const auto [status, generation] = senses_.status ? senses_.status(file) : statusOf(file);
    return {status.st_dev, status.st_ino, generation, int64_t(status.st_size), nanoseconds(status.st_mtim),
            nanoseconds(status.st_ctim)};
}

int64_t LengthCache::firstSeen(const Identity &identity, int64_t now) const
{
    std::lock_guard lock(mutex_);
    const auto [first, made] = seen_.try_emplace(identity, now);
    if (made)
        seenOrder_.push_back(identity);
    const int64_t seen = first->second;
    while (seenOrder_.size() > maximumFiles_) {
        seen_.erase(seenOrder_.front());
        seenOrder_.pop_front();
    }
    return seen;
}

bool LengthCache::count(const FileHandle &file, const std::optional<Identity> &opened, DecodedStream &stream,
                        const CancellationToken &token)
{
    // The stream was opened on the bytes as they were then: a file grown or rewritten since is
    // not the one a count of its present identity describes.
    const bool unchanged = opened && identityOf(file) == opened;
    if (unchanged) {
        if (const auto known = find(*opened); known && stream.adoptCount(*known))
            return false;
    }
    stream.countLength();
    // A pass the token stopped may have ended early without failing; a file written meanwhile
    // may have been read half old, half new.
    if (unchanged && !token.isCancelled() && identityOf(file) == opened) {
        if (auto learned = stream.counted())
            keep(*opened, std::move(learned));
    }
    return true;
}

rawstream::End LengthCache::audioEnd(const FileHandle &file, const char *demuxer, int64_t start, int64_t fileSize)
{
    const std::optional<Identity> opened = identityOf(file);
    const bool same = opened && opened->size == fileSize;
    if (same) {
        if (auto known = findEnd(*opened, demuxer, start))
            return *known;
    }
    rawstream::End end = rawstream::audioEnd(file, demuxer, start, fileSize);
    // A file written during the walk may have been read half old, half new.
    if (same && identityOf(file) == opened)
        keepEnd(*opened, {demuxer, start, end});
    return end;
}

flaclength::Proof LengthCache::flacProof(const FileHandle &file, int64_t start, int64_t tagged)
{
    const std::optional<Identity> opened = identityOf(file);
    if (opened) {
        std::lock_guard lock(mutex_);
        if (const auto found = at_.find(*opened); found != at_.end()) {
            order_.splice(order_.begin(), order_, found->second);
            if (const auto &flac = found->second->flac; flac && flac->start == start)
                return flac->proof;
        }
    }
    const flaclength::Proof proof = flaclength::prove(file, start, tagged);
    // A file written during the proof may have been read half old, half new.
    if (opened && identityOf(file) == opened) {
        Order dropped;
        std::lock_guard lock(mutex_);
        Entry &entry = entryOf(*opened);
        bytes_ -= bytesOf(entry);
        entry.flac = FlacProof{start, proof};
        bytes_ += bytesOf(entry);
        dropped = trimmed();
    }
    return proof;
}

std::shared_ptr<const CountedLength> LengthCache::find(const Identity &file)
{
    std::lock_guard lock(mutex_);
    const auto found = at_.find(file);
    if (found == at_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->count;
}

std::optional<rawstream::End> LengthCache::findEnd(const Identity &file, const char *demuxer, int64_t start)
{
    std::lock_guard lock(mutex_);
    const auto found = at_.find(file);
    if (found == at_.end())
        return std::nullopt;
    order_.splice(order_.begin(), order_, found->second);
    const std::optional<ProvenEnd> &end = found->second->end;
    if (!end || end->demuxer != demuxer || end->start != start)
        return std::nullopt;
    return end->end;
}

void LengthCache::keep(const Identity &file, std::shared_ptr<const CountedLength> count)
{
    // One count larger than the whole bound would only push every other out before its own turn.
    if (!count || sizeof(CountedLength) + count->memoryBytes > maximumBytes_)
        return;
    Order dropped;
    std::shared_ptr<const CountedLength> replaced;
    {
        std::lock_guard lock(mutex_);
        Entry &entry = entryOf(file);
        bytes_ -= bytesOf(entry);
        replaced = std::exchange(entry.count, std::move(count));
        bytes_ += bytesOf(entry);
        dropped = trimmed();
    }
}

void LengthCache::keepEnd(const Identity &file, ProvenEnd end)
{
    Order dropped;
    std::lock_guard lock(mutex_);
    Entry &entry = entryOf(file);
    bytes_ -= bytesOf(entry);
    entry.end = std::move(end);
    bytes_ += bytesOf(entry);
    dropped = trimmed();
}

LengthCache::Entry &LengthCache::entryOf(const Identity &file)
{
    if (const auto found = at_.find(file); found != at_.end()) {
        order_.splice(order_.begin(), order_, found->second);
        return *found->second;
    }
    order_.push_front({file, nullptr, std::nullopt, std::nullopt});
    at_[file] = order_.begin();
    bytes_ += bytesOf(order_.front());
    return order_.front();
}

size_t LengthCache::bytesOf(const Entry &entry)
{
    return (entry.count ? sizeof(CountedLength) + entry.count->memoryBytes : 0) + (entry.end ? sizeof(ProvenEnd) : 0)
           + (entry.flac ? sizeof(FlacProof) : 0);
}

LengthCache::Order LengthCache::trimmed()
{
    Order dropped;
    while (!order_.empty() && (order_.size() > maximumFiles_ || bytes_ > maximumBytes_)) {
        const auto last = std::prev(order_.end());
        bytes_ -= bytesOf(*last);
        at_.erase(last->file);
        dropped.splice(dropped.end(), order_, last);
    }
    return dropped;
}

size_t LengthCache::files() const
{
    std::lock_guard lock(mutex_);
    return order_.size();
}

size_t LengthCache::IdentityHash::operator()(const Identity &id) const noexcept
{
    size_t h = std::hash<uint64_t>()(uint64_t(id.inode));
    for (const uint64_t part : {uint64_t(id.device), uint64_t(id.generation), uint64_t(id.size), uint64_t(id.modified),
                                uint64_t(id.changed), uint64_t(id.aheadOfClock)})
        h ^= std::hash<uint64_t>()(part) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}

} // namespace tampod
