#include "platform/decode/internal/flac/flac_length.h"

#include "core/byte_reader.h"
#include "core/file_handle.h"
#include "platform/internal/frame_crc.h"

#include <FLAC/stream_decoder.h>

#include <QByteArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace tampod::flaclength {

namespace {

// A frame larger than this is searched for no further: the decode counts such a file.
constexpr int64_t maximumTailBytes = 16 << 20;
constexpr int64_t unknownFrameTailBytes = 1 << 20;
constexpr int64_t streamInfoBytes = 34;
constexpr int64_t streamInfoEnd = 4 + 4 + streamInfoBytes;
// The first look at the end covers the largest frame and this much after it: the tags taggers
// append (ID3v1, Lyrics3, a small APE tag) and a little padding. Each look after it reaches a
// piece further back, up to the room allowed for what may follow the last frame (large tags with
// pictures, padding, junk) and still leave the header's count trusted; beyond it the decode
// counts the file.
constexpr int64_t firstTrailingBytes = 4 << 10;
constexpr int64_t lookBytes = 64 << 10;
constexpr int64_t trailingBytes = 16 << 20;
// Headers whose checksum holds by chance in those bytes are each decoded; a file with more of
// them than this is counted by the decode.
constexpr int maximumFramesTried = 1024;

struct StreamInfo {
    int64_t maxBlock = 0;
    int64_t maxFrameBytes = 0; // 0: not stated
    int64_t total = 0;
    QByteArray bytes; // the block's, as it is
};

struct FrameHeader {
    int64_t firstSample = 0;
    int64_t blocksize = 0;
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
    r.skip(3); // the smallest frame
    stream.maxFrameBytes = r.u24be();
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
    }

    // Whether libFLAC decodes it whole, from its first byte, with both its checksums holding.
    bool decodes(int64_t blocksize)
    {
        std::unique_ptr<FLAC__StreamDecoder, void (*)(FLAC__StreamDecoder *)> decoder(FLAC__stream_decoder_new(),
                                                                                   FLAC__stream_decoder_delete);
        if (!decoder
            || FLAC__stream_decoder_init_stream(decoder.get(), &OneFrame::read, nullptr, nullptr, nullptr, nullptr,
                                                &OneFrame::write, nullptr, &OneFrame::error, this)
                   != FLAC__STREAM_DECODER_INIT_STATUS_OK
            || !FLAC__stream_decoder_process_until_end_of_metadata(decoder.get())
            || !FLAC__stream_decoder_process_single(decoder.get()))
            return false;
        return !failed_ && decodedBlock_ == blocksize;
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
    const uint8_t *frame_;
    const uint8_t *end_;
    bool failed_ = false;
    int64_t decodedBlock_ = -1;
};

bool decodesWhole(const QByteArray &streamInfo, const uint8_t *frame, const uint8_t *end, int64_t blocksize)
{
    return OneFrame(streamInfo, frame, end).decodes(blocksize);
}

} // namespace

namespace {

// The proof against the bytes before end: the last frame is the whole frame nearest to it.
std::optional<int64_t> provenBefore(const FileHandle &file, const StreamInfo &stream, int64_t start, int64_t end)
{
    const int64_t available = end - start - streamInfoEnd;
    const int64_t frameBytes = std::min(stream.maxFrameBytes > 0 ? stream.maxFrameBytes : unknownFrameTailBytes,
                                        maximumTailBytes);
    const int64_t widest = std::min(frameBytes + trailingBytes, available);
    if (widest < 8)
        return std::nullopt;
    // Whatever follows the last frame (tags, padding, junk) holds none. Each look reads the piece
    // before the bytes already searched and searches the headers that begin in it; the bytes kept
    // after it hold the frames that run on into those (no frame is longer than frameBytes).
    QByteArray bytesHere; // the piece, then what is kept after it
    int tried = 0;
    for (int64_t searched = 0; searched < widest;) {
        const int64_t fresh = std::min(searched == 0 ? frameBytes + firstTrailingBytes : lookBytes, widest - searched);
        const QByteArray piece = file.preadUpTo(end - searched - fresh, fresh);
        if (piece.size() != fresh)
            return std::nullopt;
        bytesHere = piece + bytesHere.left(frameBytes + 16);
        const bool reachesEnd = searched == 0;
        searched += fresh;
        const auto *bytes = reinterpret_cast<const uint8_t *>(bytesHere.constData());
        const uint8_t *hereEnd = bytes + bytesHere.size();
        const uint16_t stored = uint16_t(hereEnd[-2] << 8 | hereEnd[-1]);
        const uint8_t *h = bytes + std::min<int64_t>(bytesHere.size() - 8, fresh - 1) + 1;
        while ((h = static_cast<const uint8_t *>(memrchr(bytes, 0xFF, size_t(h - bytes))))) {
            const auto frame = frameHeader(h, hereEnd, stream);
            if (!frame)
                continue;
            if (++tried > maximumFramesTried)
                return std::nullopt;
            // A frame that ends at end (its checksum covering all bytes up to the stored one) is
            // whole without a decode: the common case, and the cheap one.
            const bool endsHere = reachesEnd && hereEnd - h <= frameBytes && crc16(h, hereEnd - 2 - h) == stored;
            if (!endsHere && !decodesWhole(stream.bytes, h, hereEnd, frame->blocksize))
                continue;
            if (frame->firstSample + frame->blocksize != stream.total)
                return std::nullopt;
            return stream.total;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<int64_t> proven(const FileHandle &file, int64_t start, int64_t tagged)
{
    const std::optional<StreamInfo> stream = streamInfo(file, start);
    if (!stream)
        return std::nullopt;
    // Before the tags at the end, as their own sizes place them (so a large tag is not read),
    // then before the file's end, where those bytes were a frame's after all.
    const int64_t fileSize = file.size();
    if (tagged > start && tagged < fileSize) {
        if (const auto total = provenBefore(file, *stream, start, tagged))
            return total;
    }
    return provenBefore(file, *stream, start, fileSize);
}

bool framesOutOfOrder(const FileHandle &file, int64_t start)
{
    const std::optional<StreamInfo> stream = streamInfo(file, start);
    const int64_t fileSize = file.size();
    if (!stream)
        return false;
    int tried = 0; // metadata blocks, then frames decoded
    // The metadata blocks, to the first frame.
    int64_t at = start + 4;
    for (bool last = false; !last;) {
        const QByteArray block = file.preadUpTo(at, 4);
        if (block.size() != 4 || ++tried > maximumFramesTried)
            return false;
        last = uint8_t(block[0]) & 0x80;
        at += 4 + (int64_t(uint8_t(block[1])) << 16 | int64_t(uint8_t(block[2])) << 8 | uint8_t(block[3]));
    }
    // Each piece is searched for headers beginning in its first pieceBytes; the bytes after them
    // hold the frames that run on.
    constexpr int64_t pieceBytes = 1 << 20;
    const int64_t frameBytes = std::min(stream->maxFrameBytes > 0 ? stream->maxFrameBytes : unknownFrameTailBytes,
                                        maximumTailBytes);
    int64_t expected = 0; // the first sample of the frame that comes next in order
    for (; at < fileSize; at += pieceBytes) {
        const QByteArray piece = file.preadUpTo(at, pieceBytes + frameBytes + 16);
        const auto *bytes = reinterpret_cast<const uint8_t *>(piece.constData());
        const uint8_t *end = bytes + piece.size();
        const uint8_t *searchEnd = bytes + std::min<qsizetype>(piece.size(), pieceBytes);
        for (const uint8_t *h = bytes; (h = static_cast<const uint8_t *>(std::memchr(h, 0xFF, size_t(searchEnd - h))));
             ++h) {
            const auto frame = frameHeader(h, end, *stream);
            if (!frame)
                continue;
            // The next frame in order: a header that holds by chance and bears the very number
            // that comes next is not worth a decode.
            if (frame->firstSample == expected) {
                expected += frame->blocksize;
                continue;
            }
            if (++tried > maximumFramesTried)
                return false;
            if (!decodesWhole(stream->bytes, h, end, frame->blocksize))
                continue;
            if (frame->firstSample < expected)
                return true;
            expected = frame->firstSample + frame->blocksize; // frames missing before it
        }
        if (piece.size() <= pieceBytes)
            break;
    }
    return false;
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

std::optional<int64_t> frameStart(std::span<const uint8_t> frame, std::span<const uint8_t> streamInfo)
{
    const auto info = streamInfoBlock(streamInfo);
    if (info.empty())
        return std::nullopt;
    StreamInfo stream;
    stream.maxBlock = int64_t(info[2]) << 8 | info[3];
    const auto header = frameHeader(frame.data(), frame.data() + std::min<size_t>(frame.size(), 16), stream);
    return header ? std::optional<int64_t>(header->firstSample) : std::nullopt;
}

bool streamAt(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 8 && std::memcmp(bytes.data(), "fLaC", 4) == 0 && (bytes[4] & 0x7F) == 0 && bytes[5] == 0
           && bytes[6] == 0 && bytes[7] == streamInfoBytes;
}

} // namespace tampod::flaclength
