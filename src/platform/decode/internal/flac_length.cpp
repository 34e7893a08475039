#include "platform/decode/internal/flac_length.h"

#include "core/byte_reader.h"
#include "core/file_handle.h"
#include "platform/internal/frame_crc.h"

#include <QByteArray>

#include <algorithm>
#include <array>

namespace tampod::flaclength {

namespace {

// A frame larger than this is searched for no further: the decode counts such a file.
constexpr int64_t maximumTailBytes = 16 << 20;
constexpr int64_t unknownFrameTailBytes = 1 << 20;
constexpr int64_t streamInfoEnd = 4 + 4 + 34;

struct StreamInfo {
    int64_t maxBlock = 0;
    int64_t maxFrameBytes = 0; // 0: not stated
    int64_t total = 0;
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

} // namespace

std::optional<int64_t> proven(const FileHandle &file, int64_t start)
{
    const std::optional<StreamInfo> stream = streamInfo(file, start);
    if (!stream)
        return std::nullopt;
    const int64_t fileSize = file.size();
    const int64_t window = std::min({stream->maxFrameBytes > 0 ? stream->maxFrameBytes : unknownFrameTailBytes,
                                     maximumTailBytes, fileSize - start - streamInfoEnd});
    if (window < 8)
        return std::nullopt;
    const QByteArray tail = file.preadUpTo(fileSize - window, window);
    if (tail.size() != window)
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const uint8_t *>(tail.constData());
    const uint8_t *end = bytes + tail.size();
    const uint16_t stored = uint16_t(end[-2] << 8 | end[-1]);
    // The last frame is the one nearest the end whose header holds and whose checksum covers
    // everything up to the file's last two bytes.
    for (int64_t at = window - 8; at >= 0; --at) {
        const uint8_t *h = bytes + at;
        const auto frame = frameHeader(h, end - 2, *stream);
        if (!frame)
            continue;
        if (crc16(h, end - 2 - h) != stored)
            continue;
        if (frame->firstSample + frame->blocksize != stream->total)
            return std::nullopt;
        return stream->total;
    }
    return std::nullopt;
}

} // namespace tampod::flaclength
