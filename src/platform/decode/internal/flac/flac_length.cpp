#include "platform/decode/internal/flac/flac_length.h"

#include "core/byte_reader.h"
#include "core/file_handle.h"
#include "platform/internal/frame_crc.h"

#include <FLAC/stream_decoder.h>

#include <QByteArray>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tampod::flaclength {

namespace {

constexpr int64_t streamInfoBytes = 34;
constexpr int64_t streamInfoEnd = 4 + 4 + streamInfoBytes;
// Each look at the end reads a piece before the bytes already searched, from the first look's
// size to twice what was searched before it but no more than lookBytes, up to the room
// allowed for what may follow the last frame (large tags with pictures, padding, junk) and for
// that frame itself, and still leave the header's count trusted; beyond it the decode counts the
// file. The room is the same whatever frame size the header states (a frame larger than the
// room left for it behind that much is counted by the decode).
constexpr int64_t firstLookBytes = 16 << 10;
constexpr int64_t lookBytes = 64 << 10;
constexpr int64_t trailingBytes = 16 << 20;
constexpr int64_t lastFrameRoomBytes = 1 << 20;
// Headers whose checksum holds by chance in those bytes are each decoded; a file with more of
// them than this is counted by the decode.
constexpr int maximumFramesTried = 1024;
// The places through the stream whose frames must come in order, and what one of them may read:
// a piece at a time while no whole frame has been found, up to a bound.
constexpr int orderProbes = 5;
constexpr int64_t probeBytes = 8 << 10;
constexpr int64_t largestProbeBytes = 1 << 20;

struct StreamInfo {
    int64_t maxBlock = 0;
    int64_t total = 0;
    QByteArray bytes; // the block's, as it is
};

struct FrameHeader {
    int64_t firstSample = 0;
    int64_t blocksize = 0;
    bool bySample = false; // numbered by its first sample, not by its frame number
};

std::optional<StreamInfo> streamInfo(const FileHandle &file, int64_t start)
{
    const QByteArray bytes = file.preadUpTo(start, streamInfoEnd);
    if (bytes.size() != streamInfoEnd || !bytes.startsWith("fLaC"))
        return std::nullopt;
    ByteReader r(bytes);
    r.skip(4);
    if ((r.u8() & 0x7F) != 0 || r.u24be() != 34)
        return std::nullopt;
    StreamInfo stream;
    stream.bytes = bytes.mid(8);
    r.skip(2); // the smallest block
    stream.maxBlock = r.u16be();
    r.skip(6); // the smallest and largest frame: a stated size bounds no read here
    stream.total = int64_t(r.u64be() & ((uint64_t(1) << 36) - 1)); // after rate, channels, bits
    if (stream.total == 0 || stream.maxBlock < 16)
        return std::nullopt;
    return stream;
}

// The frame header at h (at most 16 bytes available before end), where its checksum holds.
std::optional<FrameHeader> frameHeader(const uint8_t *h, const uint8_t *end, const StreamInfo &stream)
{
    if (end - h < 6 || h[0] != 0xFF || (h[1] & 0xFE) != 0xF8 || (h[3] & 1) != 0)
        return std::nullopt;
    const bool variable = h[1] & 1;
    const int blockCode = h[2] >> 4, rateCode = h[2] & 15;
    if (blockCode == 0 || rateCode == 15 || (h[3] >> 4) > 10 || ((h[3] >> 1) & 7) == 3)
        return std::nullopt;
    // The frame or sample number, coded as UTF-8 is (up to seven bytes).
    const uint8_t *at = h + 4;
    int extra = 0;
    uint64_t number = at[0];
    if (number >= 0x80) {
        int lead = 0;
        while (lead < 8 && (at[0] & (0x80 >> lead)))
            ++lead;
        if (lead < 2 || lead > 7)
            return std::nullopt;
        extra = lead - 1;
        number = lead == 7 ? 0 : at[0] & (0x7F >> lead);
        if (end - at < 1 + extra)
            return std::nullopt;
        for (int i = 1; i <= extra; ++i) {
            if ((at[i] & 0xC0) != 0x80)
                return std::nullopt;
            number = number << 6 | (at[i] & 0x3F);
        }
    }
    at += 1 + extra;
    int64_t blocksize = 0;
    if (blockCode == 1)
        blocksize = 192;
    else if (blockCode <= 5)
        blocksize = int64_t(576) << (blockCode - 2);
    else if (blockCode >= 8)
        blocksize = int64_t(256) << (blockCode - 8);
    const int blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const int rateBytes = rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
    if (end - at < blockBytes + rateBytes + 1)
        return std::nullopt;
    if (blockBytes)
        blocksize = int64_t(blockBytes == 2 ? at[0] << 8 | at[1] : at[0]) + 1;
    at += blockBytes + rateBytes;
    if (crc8(h, at - h) != *at)
        return std::nullopt;
    FrameHeader frame;
    frame.blocksize = blocksize;
    frame.bySample = variable;
    frame.firstSample = variable ? int64_t(number) : int64_t(number) * stream.maxBlock;
    return frame;
}

// One frame handed to libFLAC after the stream's STREAMINFO, as if it were the stream's first.
class OneFrame {
public:
    OneFrame(const QByteArray &streamInfo, const uint8_t *frame, const uint8_t *end)
        : frame_(frame), end_(end)
    {
        prefix_ = QByteArray("fLaC\x80\x00\x00\x22", 8) + streamInfo;
        first_ = frame;
    }

    // Whether libFLAC decodes it whole, from its first byte, with both its checksums holding;
    // then where it ends (bytes from its first).
    std::optional<int64_t> decodes(int64_t blocksize)
    {
        std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder *)> decoder(FLAC__stream_decoder_new(),
                                                                                   FLAC__stream_decoder_delete);
        if (!decoder
            || FLAC__stream_decoder_init_stream(decoder.get(), &OneFrame::read, nullptr, &OneFrame::tell, nullptr,
                                                nullptr, &OneFrame::write, nullptr, &OneFrame::error, this)
                   != FLAC__STREAM_DECODER_INIT_STATUS_OK
            || !FLAC__stream_decoder_process_until_end_of_metadata(decoder.get())
            || !FLAC__stream_decoder_process_single(decoder.get()) || failed_ || decodedBlock_ != blocksize)
            return std::nullopt;
        FLAC__uint64 after = 0;
        if (!FLAC__stream_decoder_get_decode_position(decoder.get(), &after) || int64_t(after) <= prefix_.size())
            return std::nullopt;
        return int64_t(after) - prefix_.size();
    }

private:
    static OneFrame &self(void *data) { return *static_cast<OneFrame *>(data); }

    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                              void *data)
    {
        OneFrame &s = self(data);
        size_t n = 0;
        if (s.prefixUsed_ < s.prefix_.size()) {
            n = std::min(*bytes, size_t(s.prefix_.size() - s.prefixUsed_));
            std::memcpy(buffer, s.prefix_.constData() + s.prefixUsed_, n);
            s.prefixUsed_ += qsizetype(n);
        } else {
            n = std::min(*bytes, size_t(s.end_ - s.frame_));
            std::memcpy(buffer, s.frame_, n);
            s.frame_ += n;
        }
        *bytes = n;
        return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder *, FLAC__uint64 *offset, void *data)
    {
        const OneFrame &s = self(data);
        *offset = FLAC__uint64(s.prefixUsed_ + (s.frame_ - s.first_));
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                const FLAC__int32 *const[], void *data)
    {
        self(data).decodedBlock_ = frame->header.blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    // A lost sync (the frame did not begin where it was looked for), a bad header or checksum.
    static void error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *data)
    {
        self(data).failed_ = true;
    }

    QByteArray prefix_;
    qsizetype prefixUsed_ = 0;
    const uint8_t *first_;
    const uint8_t *frame_;
    const uint8_t *end_;
    bool failed_ = false;
    int64_t decodedBlock_ = -1;
};

// Where the frame at frame ends, where libFLAC decodes it whole.
std::optional<int64_t> decodesWhole(const QByteArray &streamInfo, const uint8_t *frame, const uint8_t *end,
                                    int64_t blocksize)
{
    return OneFrame(streamInfo, frame, end).decodes(blocksize);
}

} // namespace

namespace {

struct LastFrame {
    int64_t firstSample = 0;
    int64_t endSample = 0; // the first sample after it, by its header's number
    int64_t end = 0;       // in the file
};

// The room the search reads into, mapped apart from the heap: its pages are backed only as they
// are read into, and all are given back at its end. malloc maps a block this large too, but its
// free raises glibc's threshold for mapping blocks to that size for the rest of the process:
// every later block below it (an encoder's, a decoder's) would come from the heap, which keeps
// what it once held.
class Room {
public:
    explicit Room(size_t bytes) : bytes_(bytes)
    {
        void *mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            throw std::bad_alloc();
        data_ = static_cast<uint8_t *>(mapped);
    }
    ~Room() { munmap(data_, bytes_); }
    Room(const Room &) = delete;
    Room &operator=(const Room &) = delete;
    uint8_t *get() const { return data_; }

private:
    size_t bytes_;
    uint8_t *data_;
};

uint16_t storedCrc(const uint8_t *end)
{
    return uint16_t(end[-2] << 8 | end[-1]);
}

// The whole frame nearest to end (the checksums holding), whatever its number. Each look reads
// the piece before the bytes already searched into one buffer, filled from its end, and searches
// the headers that begin in it; the frames that run on use the bytes after it in place.
std::optional<LastFrame> lastFrameBefore(const FileHandle &file, const StreamInfo &stream, int64_t start, int64_t end)
{
    const int64_t widest = std::min(lastFrameRoomBytes + trailingBytes, end - start - streamInfoEnd);
    if (widest < 8)
        return std::nullopt;
    const Room buffer{size_t(widest)};
    const uint8_t *const bufferEnd = buffer.get() + widest;
    int tried = 0;
    for (int64_t searched = 0; searched < widest;) {
        const int64_t fresh = std::min({searched == 0 ? firstLookBytes : std::min(searched, lookBytes), widest - searched});
        const QByteArray piece = file.preadUpTo(end - searched - fresh, fresh);
        if (piece.size() != fresh)
            return std::nullopt;
        uint8_t *const bytes = buffer.get() + (widest - searched - fresh);
        std::memcpy(bytes, piece.constData(), size_t(fresh));
        searched += fresh;
        const uint8_t *h = std::min<const uint8_t *>(bytes + fresh, bufferEnd - 7);
        while (h > bytes && (h = static_cast<const uint8_t *>(memrchr(bytes, 0xFF, size_t(h - bytes))))) {
            const auto frame = frameHeader(h, bufferEnd, stream);
            if (!frame)
                continue;
            if (++tried > maximumFramesTried)
                return std::nullopt;
            // A frame that ends at end (its checksum covering all bytes up to the stored one) is
            // whole without a decode: the common case, and the cheap one (so only near the end,
            // where no candidate costs more than a decode of it would).
            int64_t length = bufferEnd - h;
            if (length > 2 * lookBytes || crc16(h, length - 2) != storedCrc(bufferEnd)) {
                const auto decoded = decodesWhole(stream.bytes, h, bufferEnd, frame->blocksize);
                if (!decoded || *decoded > length)
                    continue;
                length = *decoded;
            }
            return LastFrame{frame->firstSample, frame->firstSample + frame->blocksize, end - (bufferEnd - h) + length};
        }
    }
    return std::nullopt;
}

// Where the stream's first frame begins: after its metadata blocks.
std::optional<int64_t> firstFrameAt(const FileHandle &file, int64_t start)
{
    int64_t at = start + 4;
    for (int blocks = 0; blocks < maximumFramesTried; ++blocks) {
        const QByteArray block = file.preadUpTo(at, 4);
        if (block.size() != 4)
            return std::nullopt;
        at += 4 + (int64_t(uint8_t(block[1])) << 16 | int64_t(uint8_t(block[2])) << 8 | uint8_t(block[3]));
        if (uint8_t(block[0]) & 0x80)
            return at;
    }
    return std::nullopt;
}

// The first sample of the first frame at or after from, before end: of the first header that
// holds; with whole, of the first whole frame (a header that holds, then the next one in order
// with the frame's checksum holding between them).
std::optional<int64_t> frameNumberAt(const FileHandle &file, const StreamInfo &stream, int64_t from, int64_t end,
                                     bool whole)
{
    // Read on a piece at a time while no whole frame has been found; each header is looked at
    // once, as a frame's start and as the end of each frame before it.
    QByteArray piece;
    std::vector<std::pair<qsizetype, FrameHeader>> before; // headers that held, by their offset
    qsizetype looked = 0; // headers beginning before here were looked at
    while (piece.size() < largestProbeBytes && from + piece.size() < end) {
        piece += file.preadUpTo(from + piece.size(), std::min<int64_t>(probeBytes, end - from - piece.size()));
        const auto *bytes = reinterpret_cast<const uint8_t *>(piece.constData());
        const uint8_t *const pieceEnd = bytes + piece.size();
        // A header near what was read last may run on into the next piece.
        const uint8_t *const lookEnd = from + piece.size() >= end ? pieceEnd : pieceEnd - std::min<qsizetype>(16, piece.size());
        for (const uint8_t *h = bytes + looked;
             h < lookEnd && (h = static_cast<const uint8_t *>(std::memchr(h, 0xFF, size_t(lookEnd - h)))); ++h) {
            const auto frame = frameHeader(h, pieceEnd, stream);
            if (!frame || frame->firstSample >= stream.total)
                continue;
            if (!whole)
                return frame->firstSample;
            if (before.size() >= size_t(maximumFramesTried))
                return std::nullopt;
            for (const auto &[at, previous] : before) {
                if (frame->firstSample == previous.firstSample + previous.blocksize && h - bytes - at > 2
                    && crc16(bytes + at, h - 2 - (bytes + at)) == storedCrc(h))
                    return previous.firstSample;
            }
            before.emplace_back(h - bytes, *frame);
        }
        looked = lookEnd - bytes;
    }
    return std::nullopt;
}

// The number its header gives the stream's first frame, at first, where the header holds there.
std::optional<int64_t> firstFrameHeld(const FileHandle &file, const StreamInfo &stream, std::optional<int64_t> first)
{
    if (!first)
        return std::nullopt;
    const QByteArray bytes = file.preadUpTo(*first, 16);
    const auto *h = reinterpret_cast<const uint8_t *>(bytes.constData());
    const auto frame = frameHeader(h, h + bytes.size(), stream);
    return frame ? std::optional<int64_t>(frame->firstSample) : std::nullopt;
}

// The number of the stream's first frame where it is no later than the last frame's; else 0. A
// stream trimmed at its start without being encoded again keeps the numbers its frames had, and
// its header the count of the whole.
int64_t firstFrameNumber(std::optional<int64_t> held, const LastFrame &last)
{
    return held && *held <= last.firstSample ? *held : 0;
}

// Whether the frame at at is whole: its header holds, and its checksum over the bytes up to the
// next header that holds, whatever that one's number. Its number then.
std::optional<int64_t> wholeFrameNumberAt(const FileHandle &file, const StreamInfo &stream, int64_t at, int64_t end)
{
    QByteArray piece;
    std::optional<FrameHeader> frame;
    qsizetype looked = 3; // headers beginning before here were looked at
    qsizetype summed = 0; // the checksum is of the bytes before here, kept as the search goes on
    uint16_t crc = 0;
    while (piece.size() < largestProbeBytes && at + piece.size() < end) {
        piece += file.preadUpTo(at + piece.size(), std::min<int64_t>(probeBytes, end - at - piece.size()));
        const auto *bytes = reinterpret_cast<const uint8_t *>(piece.constData());
        const uint8_t *const pieceEnd = bytes + piece.size();
        if (!frame && !(frame = frameHeader(bytes, pieceEnd, stream)))
            return std::nullopt;
        const uint8_t *const lookEnd = at + piece.size() >= end ? pieceEnd : pieceEnd - std::min<qsizetype>(16, piece.size());
        for (const uint8_t *h = bytes + looked;
             h < lookEnd && (h = static_cast<const uint8_t *>(std::memchr(h, 0xFF, size_t(lookEnd - h)))); ++h) {
            crc = crc16(bytes + summed, h - 2 - (bytes + summed), crc);
            summed = h - 2 - bytes;
            if (frameHeader(h, pieceEnd, stream) && crc == storedCrc(h))
                return frame->firstSample;
        }
        looked = std::max<qsizetype>(looked, lookEnd - bytes);
    }
    return std::nullopt;
}

// Whether frames at a few places through the stream go back in their numbering before the last
// frame, which begins at last, or before the first frame, numbered firstHeld. The first header at
// each place tells where to look; only frames that seem to go back are read whole, so a header
// holding by chance refuses nothing.
bool probesOutOfOrder(const FileHandle &file, const StreamInfo &stream, std::optional<int64_t> first,
                      std::optional<int64_t> firstHeld, int64_t audioEnd, int64_t last)
{
    if (!first || *first >= audioEnd)
        return false;
    const int64_t span = audioEnd - *first;
    struct Place {
        int64_t from = 0;
        int64_t number = 0;
    };
    std::vector<Place> places;
    for (int i = 1; i <= orderProbes; ++i) {
        const int64_t from = *first + span * i / (orderProbes + 1);
        if (const auto number = frameNumberAt(file, stream, from, audioEnd, false))
            places.push_back({from, *number});
    }
    const auto wholeAt = [&](const Place &place) { return frameNumberAt(file, stream, place.from, audioEnd, true); };
    for (size_t i = 1; i < places.size(); ++i) {
        if (places[i].number >= places[i - 1].number)
            continue;
        const auto before = wholeAt(places[i - 1]), after = wholeAt(places[i]);
        if (before && after && *after < *before)
            return true;
    }
    for (const Place &place : places) {
        if (place.number > last) {
            if (const auto number = wholeAt(place); number && *number > last)
                return true;
        }
    }
    // A piece placed before the frames it was cut from (a later frame, or a later part, first):
    // a trimmed stream numbers none of its frames before its first.
    if (firstHeld) {
        std::optional<std::optional<int64_t>> firstWhole; // read once, where a place asks
        for (const Place &place : places) {
            if (place.number >= *firstHeld)
                continue;
            const auto after = wholeAt(place);
            if (!after || *after >= *firstHeld)
                continue;
            if (!firstWhole)
                firstWhole = wholeFrameNumberAt(file, stream, *first, audioEnd);
            if (*firstWhole && *after < **firstWhole)
                return true;
        }
    }
    return false;
}

// The last frame, where it proves the header's count: before the tags at the end, as their own
// sizes place them (so a large tag is not read), then before the file's end, where those bytes
// were a frame's after all.
std::optional<LastFrame> provenLastFrame(const FileHandle &file, const StreamInfo &stream, int64_t start,
                                         int64_t tagged)
{
    const int64_t fileSize = file.size();
    std::optional<LastFrame> last;
    if (tagged > start && tagged < fileSize)
        last = lastFrameBefore(file, stream, start, tagged);
    if (!last || last->endSample != stream.total)
        last = lastFrameBefore(file, stream, start, fileSize);
    if (!last || last->endSample != stream.total)
        return std::nullopt;
    return last;
}

} // namespace

std::optional<int64_t> proven(const FileHandle &file, int64_t start, int64_t tagged)
{
    const std::optional<StreamInfo> stream = streamInfo(file, start);
    const std::optional<LastFrame> last = stream ? provenLastFrame(file, *stream, start, tagged) : std::nullopt;
    if (!last)
        return std::nullopt;
    return stream->total - firstFrameNumber(firstFrameHeld(file, *stream, firstFrameAt(file, start)), *last);
}

Proof prove(const FileHandle &file, int64_t start, int64_t tagged)
{
    Proof proof;
    proof.audioEnd = file.size();
    const std::optional<StreamInfo> stream = streamInfo(file, start);
    if (!stream)
        return proof;
    const std::optional<LastFrame> last = provenLastFrame(file, *stream, start, tagged);
    if (!last)
        return proof;
    const std::optional<int64_t> first = firstFrameAt(file, start);
    const std::optional<int64_t> firstHeld = firstFrameHeld(file, *stream, first);
    proof.firstSample = firstFrameNumber(firstHeld, *last);
    proof.total = stream->total - proof.firstSample;
    proof.audioEnd = last->end;
    // A second file of the same length joined on ends where the first should: its frames begin
    // again from the first number.
    proof.outOfOrder = probesOutOfOrder(file, *stream, first, firstHeld, last->end, last->firstSample);
    return proof;
}

namespace {

std::span<const uint8_t> streamInfoBlock(std::span<const uint8_t> bytes)
{
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "fLaC", 4) == 0)
        bytes = bytes.subspan(8);
    return bytes.size() >= size_t(streamInfoBytes) ? bytes : std::span<const uint8_t>{};
}

} // namespace

int64_t statedTotal(std::span<const uint8_t> streamInfo)
{
    const auto info = streamInfoBlock(streamInfo);
    if (info.empty())
        return 0;
    return int64_t(info[13] & 0x0F) << 32 | int64_t(info[14]) << 24 | int64_t(info[15]) << 16 | int64_t(info[16]) << 8
           | int64_t(info[17]);
}

std::optional<FrameNumbers> frameNumbers(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo,
                                         int64_t fixedBlock)
{
    const auto info = streamInfoBlock(streamInfo);
    if (info.empty())
        return std::nullopt;
    StreamInfo stream;
    stream.maxBlock = fixedBlock > 0 ? fixedBlock : int64_t(info[2]) << 8 | info[3];
    const auto header = frameHeader(frame.data(), frame.data() + std::min<size_t>(frame.size(), 16), stream);
    if (!header)
        return std::nullopt;
    return FrameNumbers{header->firstSample, header->blocksize};
}

std::optional<int64_t> frameStart(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo, int64_t fixedBlock)
{
    const auto numbers = frameNumbers(frame, streamInfo, fixedBlock);
    return numbers ? std::optional<int64_t>(numbers->firstSample) : std::nullopt;
}

int64_t fixedBlockOf(std::span<const uint8_t> firstFrame, std::span<const uint8_t> streamInfo)
{
    const auto info = streamInfoBlock(streamInfo);
    if (info.empty() || (info[0] == info[2] && info[1] == info[3]))
        return 0;
    StreamInfo stream;
    stream.maxBlock = 1;
    const auto header = frameHeader(firstFrame.data(), firstFrame.data() + std::min<size_t>(firstFrame.size(), 16), stream);
    return header && !header->bySample ? header->blocksize : 0;
}

bool frameChecksumHolds(std::span<const uint8_t> frame)
{
    return frame.size() >= 4 && crc16(frame.data(), int64_t(frame.size()) - 2) == storedCrc(frame.data() + frame.size());
}

bool streamAt(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 8 && std::memcmp(bytes.data(), "fLaC", 4) == 0 && (bytes[4] & 0x7F) == 0 && bytes[5] == 0
           && bytes[6] == 0 && bytes[7] == streamInfoBytes;
}

} // namespace tampod::flaclength
