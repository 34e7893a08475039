#pragma once

// Private to the platform module.

#include "concurrency/cancellation.h"
#include "platform/decode/internal/ogg_page_file.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tampod {

class FileHandle;

// Seeks in one plain Ogg Vorbis or Opus stream (one whose every page our page reader checked at
// open) by its pages' granule positions: a bisection over the file finds the page before the
// target, the decoder starts on the packet after it, far enough back for the codec's overlap and
// prediction to be what a decode from the start has, and the packets then go to the decoder
// from here, not through the demuxer, until the caller stops it.
// thread: the stream's, as the stream that owns it.
class OggPageSeeker {
public:
    // Null unless the file at 0 starts with the headers of one plain stream and its last page
    // ends the stream and the file. length: the frames the stream delivers, as the pages state.
    static std::unique_ptr<OggPageSeeker> open(const FileHandle &file, int64_t fileSize,
                                               int64_t length);

    // Flushes decoder and decodes from the page found into frame until it knows where a frame
    // stands; returns the position of frame's first sample, at or before target. nullopt where
    // the pages do not bear the seek out (damaged, cut, or not as they were at open) or the
    // target lies too near the start: the caller then decodes from the start, the decoder
    // being in no state to go on with.
    std::optional<int64_t> seek(AVCodecContext &decoder, AVFrame &frame, int64_t target,
                                const CancellationToken &token);
    // Whether the packets come from here (after a seek that succeeded, until stop()).
    bool active() const { return active_; }
    void stop();
    // The next packet after the ones the seek fed: 0, AVERROR_EOF at the end of the stream,
    // AVERROR_INVALIDDATA where a page is damaged or missing.
    int nextPacket(AVPacket &packet);

    // The page whose last finished packet ends at or before frame position from, nearest to
    // it; nullopt where no audio page does. Public for the tests and the fuzzer. before: where
    // given, set to the page that times packets before it, when the search met that one.
    std::optional<oggaudio::Page> pageBefore(int64_t from,
                                             std::optional<oggaudio::Page> *before = nullptr);

private:
    struct Packet {
        QByteArray bytes;
        std::optional<int64_t> endsAt; // the frame position where it ends, if its page says so
    };

    OggPageSeeker(const FileHandle &file, int64_t fileSize, int64_t length);
    int64_t positionOf(const oggaudio::Page &page) const
    {
        return length_ - (lastGranule_ - page.granule);
    }
    std::optional<oggaudio::Page> timedPageFrom(int64_t from, int64_t limit);
    void startAfter(const oggaudio::Page &page);
    int readPage();
    int takePacket(AVPacket &packet, std::optional<int64_t> &endsAt);

    oggaudio::PageFile pages_;
    oggaudio::Head head_;
    int64_t length_ = 0;
    int64_t lastGranule_ = 0;
    int64_t prerollFrames_ = 0;

    bool active_ = false;
    bool restarted_ = false; // the next page read is the one the decoder starts on
    int64_t nextPage_ = 0;
    QByteArray partial_; // a packet continued on the next page
    std::deque<Packet> pending_;
};

} // namespace tampod
