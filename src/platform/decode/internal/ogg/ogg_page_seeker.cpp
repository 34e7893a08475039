#include "platform/decode/internal/ogg/ogg_page_seeker.h"

#include "core/file_handle.h"
#include "platform/internal/ffmpeg_owners.h"

#include <algorithm>
#include <cstring>

namespace tampod {

using oggaudio::Page;

namespace {

// Opus asks for 80 ms of decoding before its prediction settles. That makes CELT the very samples
// of a decode from the start; SILK's pitch and filter memories carry a trace of where the decode
// began much longer, so two seconds (a few milliseconds of work) leave it below 1e-5.
constexpr int64_t opusPrerollFrames = 2 * 48000;
// A Vorbis packet's samples come from its own window overlapped with the one before: the
// decoder starts at least one whole packet (at most 4096 frames) before the target.
constexpr int64_t vorbisPrerollFrames = 8192;
// The bisection ends when this little of the file is left: the pages in it are walked.
constexpr int64_t bisectionFloor = 1 << 15;
// The bisection reads a page here and there: small reads.
constexpr int64_t windowBytes = 1 << 15;
// Granules and lengths beyond this are no stream's: positions stay far from overflow.
constexpr int64_t maximumGranule = int64_t(1) << 62;
// Packets fed before some page ends and times them, past which the pages are not trusted.
constexpr int maximumUntimedPackets = 1 << 12;

} // namespace

std::unique_ptr<OggPageSeeker> OggPageSeeker::open(const FileHandle &file, int64_t fileSize,
                                                   int64_t length)
{
    oggaudio::PageFile pages(file, fileSize, windowBytes);
    const std::optional<oggaudio::Head> head = oggaudio::readHead(pages, 0);
    if (!head)
        return nullptr;
    // The last page: the one that ends the Ogg data.
    const std::optional<Page> last = oggaudio::lastPage(pages, head->firstAudioOffset);
    if (!last || !(last->flags & oggaudio::lastFlag) || last->serial != head->serial
        || last->granule < 0 || last->granule > maximumGranule || length < 0 || length > maximumGranule)
        return nullptr;
    std::unique_ptr<OggPageSeeker> seeker(new OggPageSeeker(file, fileSize, head->stream));
    seeker->links_.push_back({head->firstAudioOffset, last->end(), head->serial, 0, length, last->granule});
    return seeker;
}

std::unique_ptr<OggPageSeeker> OggPageSeeker::open(const FileHandle &file, int64_t fileSize,
                                                   const oggaudio::Described &described)
{
    if (described.links.empty())
        return nullptr;
    std::unique_ptr<OggPageSeeker> seeker(new OggPageSeeker(file, fileSize, described.stream));
    int64_t firstFrame = 0;
    for (const oggaudio::DescribedLink &link : described.links) {
        seeker->links_.push_back({link.audioStart, link.end, link.serial, firstFrame, link.frames,
                                  link.lastGranule, link.excess});
        firstFrame += link.frames;
    }
    return seeker;
}

OggPageSeeker::OggPageSeeker(const FileHandle &file, int64_t fileSize, const oggaudio::Stream &stream)
    : pages_(file, fileSize, windowBytes), stream_(stream),
      prerollFrames_(stream.codec == AudioCodecKind::opus ? opusPrerollFrames : vorbisPrerollFrames)
{
}

size_t OggPageSeeker::linkOf(int64_t target) const
{
    size_t k = 0;
    while (k + 1 < links_.size() && links_[k + 1].firstFrame <= target)
        ++k;
    return k;
}

// The first page of the link that starts in [from, limit) and times a packet. (A granule past
// the last page's belongs to no page of this link as it was described.)
std::optional<Page> OggPageSeeker::timedPageFrom(int64_t from, int64_t limit)
{
    const Link &link = links_[link_];
    limit = std::min(limit, link.end);
    for (auto page = pages_.next(from, limit); page; page = pages_.next(page->end(), limit))
        if (page->serial == link.serial && page->granule >= 0 && page->granule <= link.lastGranule)
            return page;
    return std::nullopt;
}

std::optional<Page> OggPageSeeker::pageBefore(int64_t from, std::optional<Page> *before)
{
    std::optional<Page> best, previous;
    const Link &link = links_[link_];
    int64_t begin = link.audioStart, end = link.end;
    // Granules grow through the file: a page found from the middle that ends too late puts the
    // answer before the middle; one that ends early enough is the answer or lies before it.
    while (end - begin > bisectionFloor) {
        const int64_t middle = begin + (end - begin) / 2;
        const std::optional<Page> page = timedPageFrom(middle, end);
        if (page && positionOf(*page) <= from) {
            best = page;
            begin = page->end();
        } else {
            end = middle;
        }
    }
    // The walk from where the bisection ended meets each timed page after best in turn.
    for (auto page = timedPageFrom(begin, link.end); page && positionOf(*page) <= from;
         page = timedPageFrom(page->end(), link.end)) {
        previous = best;
        best = page;
    }
    if (before)
        *before = previous;
    return best;
}

void OggPageSeeker::stop()
{
    active_ = false;
    partial_.clear();
    pending_.clear();
}

// The decoder starts with the packet after page's last finished one: it may begin on page itself.
void OggPageSeeker::startAfter(const Page &page)
{
    stop();
    nextPage_ = page.offset;
    active_ = true;
    restarted_ = true;
    readPage();
    pending_.clear();
}

// The decoder, opened afresh, starts with the link's first packet of audio, as it does in a
// read from the start.
void OggPageSeeker::startAtLink()
{
    stop();
    nextPage_ = links_[link_].audioStart;
    active_ = true;
    restarted_ = false;
}

// The packets of the next page, queued; a piece that continues a packet begun before the start is
// dropped, having no beginning.
int OggPageSeeker::readPage()
{
    // The headers of the next link are those its decoder opens with: its audio follows.
    if (nextPage_ >= links_[link_].end) {
        if (link_ + 1 >= links_.size() || !partial_.isEmpty())
            return AVERROR_EOF;
        nextPage_ = links_[++link_].audioStart;
    }
    const Link &link = links_[link_];
    const std::optional<Page> page = pages_.header(nextPage_);
    const auto bytes = page ? pages_.whole(*page) : std::span<const uint8_t>{};
    if (bytes.empty() || page->serial != link.serial || page->end() > link.end)
        return AVERROR_INVALIDDATA;
    const bool startsHere = restarted_;
    restarted_ = false;
    const std::vector<oggaudio::Piece> pieces = oggaudio::piecesOf(*page);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const oggaudio::Piece &piece = pieces[i];
        partial_.append(reinterpret_cast<const char *>(bytes.data() + page->headerSize()
                                                       + piece.at),
                        piece.size);
        if (!piece.ends)
            continue;
        if (i == 0 && startsHere && (page->flags & oggaudio::continuedFlag)) {
            partial_.clear();
            continue;
        }
        const bool lastEnding = i + 1 == pieces.size() || !pieces[i + 1].ends;
        // The decoder is not told to trim the link's last packets: its output ends past the
        // link's end by what the pages trim.
        const int64_t untrimmed = page->end() == link.end ? link.excess : 0;
        pending_.push_back(Packet{partial_,
                                  lastEnding && page->granule >= 0 && page->granule <= link.lastGranule
                                      ? std::optional<int64_t>(positionOf(*page) + untrimmed)
                                      : std::nullopt,
                                  page->offset});
        partial_.clear();
    }
    nextPage_ = page->end();
    return 0;
}

// The next packet into packet, and where it ends, where its page says so.
int OggPageSeeker::takePacket(AVPacket &packet, std::optional<int64_t> &endsAt)
{
    while (pending_.empty()) {
        if (const int status = readPage(); status < 0)
            return status;
    }
    const Packet next = std::move(pending_.front());
    pending_.pop_front();
    endsAt = next.endsAt;
    if (const int status = av_new_packet(&packet, int(next.bytes.size())); status < 0)
        return status;
    std::memcpy(packet.data, next.bytes.constData(), size_t(next.bytes.size()));
    packet.pos = next.pos;
    return 0;
}

int OggPageSeeker::nextPacket(AVPacket &packet)
{
    std::optional<int64_t> endsAt;
    return takePacket(packet, endsAt);
}

// Where the decoder's output stands is learnt from it, not from what a codec is thought to hold
// back after a flush: once a page's last packet is in, all it gave so far ends at that page's
// position.
std::optional<int64_t> OggPageSeeker::seek(AVCodecContext &decoder, AVFrame &frame, int64_t target,
                                           const CancellationToken &token)
{
    // The decode starts a page before the page that times its output, so that page ends before
    // the target, its pre-roll included.
    const size_t link = link_ = linkOf(target);
    const int64_t from = target - prerollFrames_;
    std::optional<Page> page;
    const std::optional<Page> timed = from > links_[link_].firstFrame ? pageBefore(from, &page) : std::nullopt;
    if (timed && !page)
        page = pageBefore(positionOf(*timed) - 1);
    // From a link's first packet, the decoder's output begins at the link's first frame (it
    // drops what Opus pre-skips itself): no page need time it, so a target on the link's first
    // page is found.
    std::optional<int64_t> origin; // the position of the first sample the decoder gave
    if (page) {
        startAfter(*page);
    } else if (link_ > 0) {
        startAtLink();
        origin = links_[link_].firstFrame;
    } else {
        return std::nullopt;
    }
    avcodec_flush_buffers(&decoder);
    ffmpeg::Packet packet{av_packet_alloc()};
    ffmpeg::Frame received{av_frame_alloc()};
    if (!packet || !received)
        return std::nullopt;
    int64_t delivered = 0;
    for (int untimed = 0; untimed < maximumUntimedPackets; ++untimed) {
        token.throwIfCancelled();
        std::optional<int64_t> endsAt;
        if (takePacket(*packet, endsAt) < 0)
            break;
        const int sent = avcodec_send_packet(&decoder, packet.get());
        av_packet_unref(packet.get());
        if (sent < 0)
            break;
        bool gotFrame = false;
        int status = 0;
        while ((status = avcodec_receive_frame(&decoder, received.get())) == 0) {
            delivered += std::max(received->nb_samples, 0);
            gotFrame = received->nb_samples > 0;
            av_frame_unref(&frame);
            av_frame_move_ref(&frame, received.get());
        }
        if (status != AVERROR(EAGAIN))
            break;
        if (!origin && endsAt)
            origin = *endsAt - delivered;
        if (!origin || !gotFrame)
            continue;
        const int64_t start = *origin + delivered - frame.nb_samples;
        if (link_ != link || start < links_[link].firstFrame || start > target
            || frame.ch_layout.nb_channels != stream_.channels || frame.sample_rate != stream_.sampleRate)
            break;
        return start;
    }
    stop();
    return std::nullopt;
}

} // namespace tampod
