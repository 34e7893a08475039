#pragma once

// Private to the platform module.

#include "concurrency/cancellation.h"
#include "platform/decode/internal/decoded_stream.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/mpeg/raw_stream_end.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace tampod {

class FileHandle;

// The counts of files whose length only a decode pass tells (a joined or cut MP3, say), kept
// for the process so that every reader of the same unchanged file after the first (the
// importer's, the player's, an export's, the tempo detection's, each waveform read's) takes the
// count instead of decoding the whole file again. A file is the same while its device, inode
// (and the inode's generation, where the file system keeps one, so that a file made anew in a
// freed inode is another), size and change and modification times (to the nanosecond) are, as
// the descriptor actually read reports them, and while those times can tell a change: a file
// whose change time is within its file system's step of the clock may be rewritten in place in
// that step and keep every field (ext4 with small inodes keeps whole seconds, FAT even ones), so
// nothing is kept or taken for it until the step has passed. A change time ahead of the clock
// (the clock set back since, a file server's running ahead) is trusted once the clock has moved a
// step on from when the same identity was first seen, the file stamped by then, and only while
// the clock stays more than a step behind it: what was kept meanwhile is not taken once the clock
// comes within the step, or passes it, when a rewrite may keep every field. Beside its
// count, what a walk of a raw stream's frames proved at open (where the audio ends, the count an
// MP3's Info header states borne out), so that each open after the first does not walk the
// frames again; the same of a FLAC stream's end and order (flaclength::prove). Bounded: the least
// recently used files go first, past a number of files or of bytes held by their seek indexes.
// thread: any; one mutex guards the table, and nothing here runs on the real-time audio thread
// (readers are opened and counted on worker and decoder threads).
class LengthCache {
public:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        uint32_t generation = 0;
        int64_t size = 0;
        int64_t modified = 0; // nanoseconds since the epoch
        int64_t changed = 0;  // nanoseconds since the epoch
        // Told while the clock is more than a step behind the change time: what was learned then
        // describes the file only until the clock comes within that step, when a rewrite in place
        // may be stamped with the same times, so it is kept apart from what is learned after.
        bool aheadOfClock = false;
        bool operator==(const Identity &) const = default;
    };

    static constexpr size_t maximumFiles = 4096;
    static constexpr size_t maximumBytes = size_t(64) << 20;

    // A file's status as its descriptor reports it, and its inode's generation (0 where the
    // file system numbers none).
    struct Status {
        struct stat fields {};
        uint32_t generation = 0;
    };
    // What identities are read from: the status of a file and the system's clock (nanoseconds
    // since the epoch). Those left empty are the system's; a test stands in for a file system
    // that keeps coarse times.
    struct Senses {
        std::function<Status(const FileHandle &)> status;
        std::function<int64_t()> now;
    };

    explicit LengthCache(size_t files = maximumFiles, size_t bytes = maximumBytes, Senses senses = {});
    // The one the readers share.
    static LengthCache &shared();

    // The identity of the file open as file; none where the system cannot tell it, nor yet tell
    // it from the file changed again: while its change time is within its file system's step
    // of the clock, a change keeps every field. A change time more than a step ahead of the clock
    // is told from a change once the clock is a step past when the same identity was first seen
    // (a step of a hundredth or finer is waited out at once), as an identity aheadOfClock.
    std::optional<Identity> identityOf(const FileHandle &file) const;
    // The status of file as the system reports it; throws SystemError where it cannot.
    static Status statusOf(const FileHandle &file);

    // Gives stream, which reads file, the count of the same unchanged file made before and
    // returns false; else counts stream's length by its decode pass and returns true, keeping
    // what it learned unless token was cancelled meanwhile or the file changed under the pass.
    // opened: the file's identity when the stream was opened on it; none shares nothing. A
    // file changed since the stream was opened neither takes nor leaves a count, and a failed
    // count (its error passes through) is not kept.
    bool count(const FileHandle &file, const std::optional<Identity> &opened, DecodedStream &stream,
               const CancellationToken &token);

    // rawstream::audioEnd of file, as an earlier open of the same unchanged file found it;
    // else found now, and kept unless reading failed or the file changed meanwhile.
    rawstream::End audioEnd(const FileHandle &file, const char *demuxer, int64_t start, int64_t fileSize);

    // flaclength::prove of file's stream at start, as an earlier open of the same unchanged file
    // found it; else found now, and kept unless the file changed meanwhile.
    flaclength::Proof flacProof(const FileHandle &file, int64_t start, int64_t tagged);

    std::shared_ptr<const CountedLength> find(const Identity &file);
    void keep(const Identity &file, std::shared_ptr<const CountedLength> count);
    size_t files() const;

private:
    struct IdentityHash {
        size_t operator()(const Identity &id) const noexcept;
    };
    // Where a raw stream's audio ends, for the demuxer that read it from its first frame on.
    struct ProvenEnd {
        std::string demuxer;
        int64_t start = 0;
        rawstream::End end;
    };
    struct FlacProof {
        int64_t start = 0;
        flaclength::Proof proof;
    };
    struct Entry {
        Identity file;
        std::shared_ptr<const CountedLength> count; // null until a decode pass counted
        std::optional<ProvenEnd> end;
        std::optional<FlacProof> flac;
    };
    using Order = std::list<Entry>;

    static size_t bytesOf(const Entry &entry);
    std::optional<rawstream::End> findEnd(const Identity &file, const char *demuxer, int64_t start);
    void keepEnd(const Identity &file, ProvenEnd end);
    // The entry of file, made where there is none, and made the latest; under mutex_.
    Entry &entryOf(const Identity &file);
    // The clock and the file's identity, as senses_ read them.
    int64_t clock() const;
    Identity statusIdentity(const FileHandle &file) const;
    // When identity was first seen (now, where it was not before), of those whose change time
    // is ahead of the clock.
    int64_t firstSeen(const Identity &identity, int64_t now) const;

    // Drops the least recently used entries past the bounds; returns them, to be freed after
    // the lock is released.
    Order trimmed();

    const size_t maximumFiles_;
    const size_t maximumBytes_;
    const Senses senses_;
    mutable std::mutex mutex_;
    Order order_;                                                  // thread: mutex_; latest first
    std::unordered_map<Identity, Order::iterator, IdentityHash> at_; // thread: mutex_
    size_t bytes_ = 0;                                             // thread: mutex_
    // Identities refused for a change time ahead of the clock, and when each was first seen;
    // the earliest seen go first past the bound of files.
    mutable std::unordered_map<Identity, int64_t, IdentityHash> seen_; // thread: mutex_
    mutable std::deque<Identity> seenOrder_;                            // thread: mutex_; earliest first
};

} // namespace tampod
