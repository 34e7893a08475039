#include "platform/decode/internal/mpeg/coded_frame_walk.h"

#include "core/file_handle.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/internal/frame_crc.h"

#include <QByteArray>

#include <algorithm>
#include <array>

namespace tampod::codedframes {

namespace {

constexpr int64_t chunkBytes = 256 << 10;

// The file read in large chunks, so a walk over thousands of frames makes few reads.
class Chunks {
public:
    Chunks(const FileHandle &file, int64_t end) : file_(file), end_(end) {}

    // count bytes at offset, or null where the file's end comes first.
    const uint8_t *at(int64_t offset, int64_t count)
    {
        if (offset < 0 || count > end_ - offset)
            return nullptr;
        if (offset < start_ || offset + count > start_ + bytes_.size()) {
            bytes_ = file_.preadUpTo(offset, std::max(chunkBytes, count));
            start_ = offset;
            if (bytes_.size() < count)
                return nullptr;
        }
        return reinterpret_cast<const uint8_t *>(bytes_.constData()) + (offset - start_);
    }

private:
    const FileHandle &file_;
    const int64_t end_;
    int64_t start_ = 0;
    QByteArray bytes_;
};

class Bits {
public:
    explicit Bits(const uint8_t *data) : data_(data) {}
    int take(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i, ++at_)
            value = value << 1 | ((data_[at_ >> 3] >> (7 - (at_ & 7))) & 1);
        return value;
    }

private:
    const uint8_t *data_;
    int at_ = 0;
};

// What one frame header states; equal for every frame of a stream the walks accept.
struct Frame {
    int64_t bytes = 0;
    int samples = 0;
    int rate = 0;
    int channels = 0;
    int kind = 0; // the header fields that must not change from frame to frame
    bool operator==(const Frame &other) const
    {
        return samples == other.samples && rate == other.rate && channels == other.channels && kind == other.kind;
    }
};

// The frames from start to end, each read by parse from its first headerBytes bytes (and the
// whole frame where it checks more).
template <typename Parse>
std::optional<Walk> walk(const FileHandle &file, int64_t start, int64_t fileSize, int headerBytes, Parse parse)
{
    Chunks chunks(file, fileSize);
    std::optional<Frame> first;
    Walk total;
    int64_t at = start;
    while (at < fileSize) {
        const uint8_t *head = chunks.at(at, headerBytes);
        const std::optional<Frame> frame = head ? parse(head, chunks, at) : std::nullopt;
        if (!frame || frame->bytes < headerBytes || (first && !(*frame == *first)) || frame->bytes > fileSize - at) {
            // A tag begins where the frames end, or the stream is not one the headers vouch for.
            // The file's end is read only here, where a walk of frames stops short of it.
            if (first) {
                const std::vector<int64_t> ends = trailingtags::possibleEnds(file, start, fileSize);
                if (std::find(ends.begin(), ends.end(), at) != ends.end())
                    break;
            }
            return std::nullopt;
        }
        if (!first)
            first = frame;
        total.samples += frame->samples;
        at += frame->bytes;
    }
    if (!first)
        return std::nullopt;
    total.sampleRate = first->rate;
    total.channels = first->channels;
    total.end = at;
    return total;
}

constexpr int baseRates[] = {48000, 44100, 32000};
constexpr int adtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

std::optional<Frame> adtsFrame(const uint8_t *h, Chunks &, int64_t)
{
    // Sync, layer 0, no CRC; then the profile, rate and channel configuration.
    if (h[0] != 0xFF || (h[1] & 0xF7) != 0xF1)
        return std::nullopt;
    const int profile = h[2] >> 6, rateIndex = (h[2] >> 2) & 15, configuration = (h[2] & 1) << 2 | h[3] >> 6;
    const int blocks = (h[6] & 3) + 1;
    // LC only, and one block a frame: the decoder refuses more.
    if (profile != 1 || rateIndex >= 13 || configuration == 0 || blocks != 1)
        return std::nullopt;
    Frame frame;
    frame.bytes = (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
    frame.samples = 1024;
    frame.rate = adtsRates[rateIndex];
    frame.channels = configuration == 7 ? 8 : configuration;
    frame.kind = h[1] & 8; // MPEG-2 or MPEG-4
    return frame;
}

// Frame sizes in 16-bit words at 48 kHz for each bit rate code; 44.1 kHz and 32 kHz follow.
constexpr int ac3Kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};

int ac3Channels(int acmod, bool lfe)
{
    static constexpr int counts[] = {2, 1, 2, 3, 3, 4, 4, 5};
    return counts[acmod] + lfe;
}

std::optional<Frame> ac3Frame(const uint8_t *h, Chunks &chunks, int64_t at)
{
    if (h[0] != 0x0B || h[1] != 0x77)
        return std::nullopt;
    Bits bits(h + 4);
    const int fscod = bits.take(2), frmsizecod = bits.take(6);
    const int bsid = bits.take(5);
    bits.take(3);
    const int acmod = bits.take(3);
    if (fscod == 3 || frmsizecod >= 38 || bsid > 8)
        return std::nullopt;
    if ((acmod & 1) && acmod != 1)
        bits.take(2);
    if (acmod & 4)
        bits.take(2);
    if (acmod == 2)
        bits.take(2);
    const bool lfe = bits.take(1);
    const int kbps = ac3Kbps[frmsizecod >> 1];
    const int words = fscod == 0 ? kbps * 2 : fscod == 2 ? kbps * 3 : kbps * 1536000 / (44100 * 16) + (frmsizecod & 1);
    Frame frame;
    frame.bytes = words * 2;
    frame.samples = 1536;
    frame.rate = baseRates[fscod];
    frame.channels = ac3Channels(acmod, lfe);
    frame.kind = acmod << 1 | lfe;
    // Both CRCs: over the first five eighths of the frame, and over all of it.
    const int64_t fiveEighths = ((frame.bytes >> 2) + (frame.bytes >> 4)) << 1;
    const uint8_t *all = chunks.at(at, frame.bytes);
    const uint16_t firstPart = all ? crc16(all + 2, fiveEighths - 2) : 1;
    if (firstPart != 0 || crc16(all + fiveEighths, frame.bytes - fiveEighths, firstPart) != 0)
        return std::nullopt;
    return frame;
}

std::optional<Frame> eac3Frame(const uint8_t *h, Chunks &chunks, int64_t at)
{
    if (h[0] != 0x0B || h[1] != 0x77)
        return std::nullopt;
    Bits bits(h + 2);
    const int streamType = bits.take(2), substream = bits.take(3), frameWords = bits.take(11) + 1;
    const int fscod = bits.take(2);
    const int reduced = fscod == 3 ? bits.take(2) : -1;
    const int blocksCode = fscod == 3 ? 3 : bits.take(2);
    const int acmod = bits.take(3);
    const bool lfe = bits.take(1);
    const int bsid = bits.take(5);
    // One independent stream of six-block frames, as most encoders write it.
    if (streamType != 0 || substream != 0 || blocksCode != 3 || reduced == 3 || bsid < 11 || bsid > 16)
        return std::nullopt;
    Frame frame;
    frame.bytes = frameWords * 2;
    frame.samples = 1536;
    frame.rate = fscod == 3 ? baseRates[reduced] / 2 : baseRates[fscod];
    frame.channels = ac3Channels(acmod, lfe);
    frame.kind = acmod << 1 | lfe;
    const uint8_t *all = chunks.at(at, frame.bytes);
    if (!all || crc16(all + 2, frame.bytes - 2) != 0)
        return std::nullopt;
    return frame;
}

constexpr int mpeg1Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int mpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

struct Layer3Header {
    int64_t bytes = 0;
    int kbps = 0;
    int rate = 0;
    bool mpeg1 = false;
    bool mono = false;
};

// A frame's size is this many bytes for each kb/s, over its rate, unpadded.
int64_t bytesPerKbps(const Layer3Header &header)
{
    return header.mpeg1 ? 144000 : 72000;
}

std::optional<Layer3Header> layer3Header(const uint8_t *h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
    const int rateCode = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
    // Free format has no stated size to walk by.
    if (version == 1 || layer != 1 || rateCode == 0 || rateCode == 15 || rateIndex == 3)
        return std::nullopt;
    Layer3Header header;
    header.mpeg1 = version == 3;
    header.mono = (h[3] >> 6) == 3;
    static constexpr int mpegRates[] = {44100, 48000, 32000};
    header.rate = mpegRates[rateIndex] >> (header.mpeg1 ? 0 : version == 2 ? 1 : 2);
    header.kbps = header.mpeg1 ? mpeg1Kbps[rateCode] : mpeg2Kbps[rateCode];
    header.bytes = bytesPerKbps(header) * header.kbps / header.rate + ((h[2] >> 1) & 1);
    return header;
}

std::optional<Frame> layer3Frame(const uint8_t *h)
{
    const auto header = layer3Header(h);
    if (!header)
        return std::nullopt;
    Frame frame;
    frame.bytes = header->bytes;
    frame.samples = header->mpeg1 ? 1152 : 576;
    frame.rate = header->rate;
    frame.channels = header->mono ? 1 : 2;
    frame.kind = h[1] & 0x18; // the version, with the rate
    return frame;
}

} // namespace

std::optional<Walk> adts(const FileHandle &file, int64_t start, int64_t fileSize)
{
    return walk(file, start, fileSize, 7, adtsFrame);
}

std::optional<Walk> ac3(const FileHandle &file, int64_t start, int64_t fileSize, bool enhanced)
{
    return enhanced ? walk(file, start, fileSize, 8, eac3Frame) : walk(file, start, fileSize, 8, ac3Frame);
}

std::optional<Walk> mpegLayer3(const FileHandle &file, int64_t start, int64_t fileSize)
{
    // The demuxer skips a first frame that carries an encoder's header: its length rules are
    // the header reader's or the decode's. Looked for wherever a CRC or side information might
    // put it.
    const QByteArray firstBytes = file.preadUpTo(start, 64);
    if (firstBytes.size() < 4 || !layer3Header(reinterpret_cast<const uint8_t *>(firstBytes.constData()))
        || firstBytes.contains("Xing") || firstBytes.contains("Info") || firstBytes.contains("VBRI"))
        return std::nullopt;
    return walk(file, start, fileSize, 4, [](const uint8_t *h, Chunks &, int64_t) { return layer3Frame(h); });
}

Chain layer3Chain(const FileHandle &file, int64_t start, int64_t fileSize)
{
    Chunks chunks(file, fileSize);
    std::optional<Frame> first;
    Chain chain{0, start};
    while (const uint8_t *head = chunks.at(chain.end, 4)) {
        const std::optional<Frame> frame = layer3Frame(head);
        if (!frame || (first && !(*frame == *first)) || frame->bytes > fileSize - chain.end)
            break;
        first = first ? first : frame;
        ++chain.frames;
        chain.end += frame->bytes;
    }
    return chain;
}

bool layer3FramesEndAt(const FileHandle &file, int64_t like, int64_t end, int64_t span)
{
    const QByteArray model = file.preadUpTo(like, 4);
    const std::optional<Frame> first =
        model.size() == 4 ? layer3Frame(reinterpret_cast<const uint8_t *>(model.constData()))
                          : std::nullopt;
    if (!first || span < 4 || span > end)
        return false;
    const QByteArray piece = file.preadUpTo(end - span, span);
    if (piece.size() != span)
        return false;
    const auto *bytes = reinterpret_cast<const uint8_t *>(piece.constData());
    // From the end back: whether a chain of frames from each offset ends exactly at end.
    std::vector<bool> chained(size_t(span) + 1, false);
    chained[size_t(span)] = true;
    for (int64_t at = span - 4; at >= 0; --at) {
        const std::optional<Frame> frame = layer3Frame(bytes + at);
        chained[size_t(at)] = frame && *frame == *first && frame->bytes <= span - at && chained[size_t(at + frame->bytes)];
    }
    constexpr int64_t largestFrame = 1441;
    for (int64_t at = 0; at < std::min(span, largestFrame); ++at)
        if (chained[size_t(at)])
            return true;
    return false;
}

std::optional<int64_t> layer3FrameBytes(std::span<const uint8_t> bytes)
{
    const auto header = bytes.size() >= 4 ? layer3Header(bytes.data()) : std::nullopt;
    return header ? std::optional<int64_t>(header->bytes) : std::nullopt;
}

bool layer3CountFits(std::span<const uint8_t> bytes, int64_t count, int64_t total, bool constant)
{
    const auto header = bytes.size() >= 4 ? layer3Header(bytes.data()) : std::nullopt;
    if (!header || count <= 0 || total <= 0)
        return false;
    // In units of a byte over the rate, where sizes are exact.
    const int64_t perKbps = bytesPerKbps(*header);
    if (constant)
        return std::abs(total * header->rate - count * perKbps * header->kbps) <= 2 * int64_t(header->rate);
    const int *kbps = header->mpeg1 ? mpeg1Kbps : mpeg2Kbps;
    return count * (perKbps * kbps[1] / header->rate) <= total && total <= count * (perKbps * kbps[14] / header->rate + 1);
}

bool layer3FramesFrom(const FileHandle &file, int64_t from, int64_t fileSize)
{
    Chunks chunks(file, fileSize);
    for (int64_t at = std::max<int64_t>(from, 0); at + 4 <= fileSize; ++at) {
        const uint8_t *head = chunks.at(at, 4);
        const auto header = head ? layer3Header(head) : std::nullopt;
        if (!header)
            continue;
        const int64_t next = at + header->bytes;
        if (next == fileSize)
            return true;
        const uint8_t *nextHead = next + 4 <= fileSize ? chunks.at(next, 4) : nullptr;
        const auto following = nextHead ? layer3Header(nextHead) : std::nullopt;
        if (following && following->mpeg1 == header->mpeg1 && following->rate == header->rate)
            return true;
    }
    return false;
}

bool layer3FramesAt(std::span<const uint8_t> bytes, bool fileEnds)
{
    std::optional<Layer3Header> first;
    size_t at = 0;
    for (int frames = 0; frames < 3; ++frames) {
        if (fileEnds && at == bytes.size() && frames > 0)
            return true;
        const auto header = at + 4 <= bytes.size() ? layer3Header(bytes.data() + at) : std::nullopt;
        if (!header || (first && (header->mpeg1 != first->mpeg1 || header->rate != first->rate)))
            return false;
        first = first ? first : header;
        at += size_t(header->bytes);
    }
    return true;
}

} // namespace tampod::codedframes
