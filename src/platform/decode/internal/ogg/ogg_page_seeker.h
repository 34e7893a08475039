#pragma once

// Private to the platform module.

#include "concurrency/cancellation.h"
#include "platform/decode/internal/ogg/ogg_page_file.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tampod {

class FileHandle;

// Seeks in one plain Ogg Vorbis or Opus stream, or a chain of them (one whose every page our page
// reader checked at open), by its pages' granule positions: a bisection over the pages of the
// link that holds the target finds the page before it, the decoder starts on the packet after it,
// far enough back for the codec's overlap and prediction to be what a decode from the start has
// (or on the link's first packet, where the target lies nearer its start), and the packets then
// go to the decoder from here, not through the demuxer, into the links after it, until the
// caller stops it.
// thread: the stream's, as the stream that owns it.
class OggPageSeeker {
public:
    // Null unless the file at 0 starts with the headers of one plain stream and its last page
    // (whatever bytes follow it) ends the stream. length: the frames the stream delivers, as the
    // pages state.
    static std::unique_ptr<OggPageSeeker> open(const FileHandle &file, int64_t fileSize,
                                               int64_t length);
    // The links as our page reader described them.
    static std::unique_ptr<OggPageSeeker> open(const FileHandle &file, int64_t fileSize,
                                               const oggaudio::Described &described);

    // The link that holds frame position target (the last for a target past the end). A seek
    // into a link other than the first needs a decoder opened afresh with that link's headers.
    size_t linkOf(int64_t target) const;

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

    // The page of the link the last seek went to (the first before any) whose last finished
    // packet ends at or before frame position from, nearest to it; nullopt where no audio page
    // of the link does. Public for the tests and the fuzzer. before: where
    // given, set to the page that times packets before it, when the search met that one.
    std::optional<oggaudio::Page> pageBefore(int64_t from,
                                             std::optional<oggaudio::Page> *before = nullptr);

private:
    struct Packet {
        QByteArray bytes;
        std::optional<int64_t> endsAt; // the frame position where it ends, if its page says so
        int64_t pos = 0;               // the page it ends on
    };
    struct Link {
        int64_t audioStart = 0, end = 0; // its first page of audio, the end of its last page
        uint32_t serial = 0;
        int64_t firstFrame = 0, frames = 0, lastGranule = 0;
        int64_t excess = 0; // what the decoder delivers past the end, untrimmed
    };

    OggPageSeeker(const FileHandle &file, int64_t fileSize, const oggaudio::Stream &stream);
    int64_t positionOf(const oggaudio::Page &page) const
    {
        const Link &link = links_[link_];
        return link.firstFrame + link.frames - (link.lastGranule - page.granule);
    }
    std::optional<oggaudio::Page> timedPageFrom(int64_t from, int64_t limit);
    void startAfter(const oggaudio::Page &page);
    void startAtLink();
    int readPage();
    int takePacket(AVPacket &packet, std::optional<int64_t> &endsAt);

    oggaudio::PageFile pages_;
    const oggaudio::Stream stream_;
    const int64_t prerollFrames_;
    std::vector<Link> links_;
    size_t link_ = 0; // the link the pages are read from

    bool active_ = false;
    bool restarted_ = false; // the next page read is the one the decoder starts on
    int64_t nextPage_ = 0;
    QByteArray partial_; // a packet continued on the next page
    std::deque<Packet> pending_;
};

} // namespace tampod
