#include "platform/decode/internal/ogg_audio_info.h"

#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg_stream_format.h"
#include "platform/internal/ffmpeg_owners.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
}

#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace tampod::oggaudio {

namespace {

constexpr int64_t pageHeaderBytes = 27;
constexpr int64_t maximumPageBytes = pageHeaderBytes + 255 + 255 * 255;
constexpr int maximumHeaderPages = 1024;
constexpr qsizetype maximumSetupBytes = 1 << 22;
constexpr int64_t windowBytes = 1 << 16;
constexpr int maximumOpusPacketFrames = 5760; // 120 ms at 48 kHz

constexpr uint8_t continuedFlag = 1, firstFlag = 2, lastFlag = 4;

uint32_t readLe32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// CRC-32 with polynomial 0x04C11DB7, not reflected, over the page with its own field as zeros.
bool checksumHolds(const uint8_t *page, size_t size)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0;
    const auto add = [&](const uint8_t *from, const uint8_t *to) {
        for (; from < to; ++from)
            crc = (crc << 8) ^ table[((crc >> 24) ^ *from) & 0xFF];
    };
    static constexpr uint8_t zeros[4] = {};
    add(page, page + 22);
    add(zeros, zeros + 4);
    add(page + 26, page + size);
    return crc == readLe32(page + 22);
}

struct Page {
    int64_t offset = 0;
    uint8_t flags = 0;
    int64_t granule = -1; // -1: no packet ends on the page
    uint32_t serial = 0;
    std::vector<uint8_t> lacing;
    int64_t bodySize = 0;

    int64_t headerSize() const { return pageHeaderBytes + int64_t(lacing.size()); }
    int64_t end() const { return offset + headerSize() + bodySize; }
    bool endsPacket() const { return !lacing.empty() && lacing.back() < 255; }
};

// The page header at the front of bytes, found at offset in the file; its body is not looked at.
std::optional<Page> pageHeader(std::span<const uint8_t> bytes, int64_t offset)
{
    if (bytes.size() < size_t(pageHeaderBytes) || std::memcmp(bytes.data(), "OggS", 5) != 0 || bytes[5] > 7)
        return std::nullopt;
    const size_t segments = bytes[26];
    if (bytes.size() < size_t(pageHeaderBytes) + segments)
        return std::nullopt;
    Page page;
    page.offset = offset;
    page.flags = bytes[5];
    uint64_t granule = 0;
    for (int i = 7; i >= 0; --i)
        granule = granule << 8 | bytes[6 + size_t(i)];
    page.granule = int64_t(granule);
    page.serial = readLe32(bytes.data() + 14);
    page.lacing.assign(bytes.begin() + pageHeaderBytes, bytes.begin() + pageHeaderBytes + int64_t(segments));
    for (const uint8_t l : page.lacing)
        page.bodySize += l;
    return page;
}

// The parts of packets a page holds, in order: where each starts in the body, whether it
// starts on this page and whether it ends here.
struct Piece {
    int64_t at = 0;
    int64_t size = 0;
    bool begins = true;
    bool ends = false;
};

std::vector<Piece> piecesOf(const Page &page)
{
    std::vector<Piece> pieces;
    Piece current{0, 0, !(page.flags & continuedFlag), false};
    for (const uint8_t l : page.lacing) {
        current.size += l;
        if (l < 255) {
            current.ends = true;
            pieces.push_back(current);
            current = Piece{current.at + current.size, 0, true, false};
        }
    }
    if (!page.endsPacket() && !page.lacing.empty())
        pieces.push_back(current);
    return pieces;
}

// Pages read through one window of the file at a time.
class PageFile {
public:
    PageFile(const FileHandle &file, int64_t fileSize) : file_(file), fileSize_(fileSize) {}

    std::optional<Page> header(int64_t offset)
    {
        if (offset < 0 || offset + pageHeaderBytes > fileSize_)
            return std::nullopt;
        if (!holds(offset, std::min(pageHeaderBytes + 255, fileSize_ - offset)))
            load(offset, windowBytes);
        return pageHeader(view(offset), offset);
    }

    // The whole page, its checksum verified; empty when it is cut short or damaged.
    std::span<const uint8_t> whole(const Page &page)
    {
        if (page.end() > fileSize_)
            return {};
        if (!holds(page.offset, page.end() - page.offset))
            load(page.offset, std::max(windowBytes, page.end() - page.offset));
        const auto bytes = view(page.offset);
        const size_t size = size_t(page.end() - page.offset);
        if (bytes.size() < size || !checksumHolds(bytes.data(), size))
            return {};
        return bytes.first(size);
    }

private:
    bool holds(int64_t offset, int64_t size) const
    {
        return offset >= windowStart_ && offset + size <= windowStart_ + window_.size();
    }
    void load(int64_t offset, int64_t size)
    {
        window_ = file_.preadUpTo(offset, std::min(size, fileSize_ - offset));
        windowStart_ = offset;
    }
    std::span<const uint8_t> view(int64_t offset) const
    {
        if (offset < windowStart_ || offset > windowStart_ + window_.size())
            return {};
        const auto *data = reinterpret_cast<const uint8_t *>(window_.constData());
        return {data + (offset - windowStart_), size_t(windowStart_ + window_.size() - offset)};
    }

    const FileHandle &file_;
    const int64_t fileSize_;
    QByteArray window_;
    int64_t windowStart_ = 0;
};

// The first bytes of a packet, enough to time it, and its size.
struct PacketStart {
    uint8_t first = 0;
    uint8_t second = 0;
    int64_t size = 0;
};

// The stream's identification, its Vorbis setup, and the first page of audio.
struct Head {
    Stream stream;
    uint32_t serial = 0;
    int preSkip = 0;
    QByteArray id, setup;
    int64_t firstAudioOffset = 0;
    int64_t firstAudioGranule = 0;
    std::vector<PacketStart> firstAudioPackets; // those that end on that page
};

// The same checks the demuxer makes of the identification header, so a stream it refuses is
// never described here.
bool readIdentification(const QByteArray &id, Head &head)
{
    const auto *p = reinterpret_cast<const uint8_t *>(id.constData());
    if (id.size() >= 30 && std::memcmp(p, "\x01vorbis", 7) == 0) {
        const uint32_t version = readLe32(p + 7), rate = readLe32(p + 12);
        const int channels = p[11], small = p[28] & 15, large = p[28] >> 4;
        if (version != 0 || channels < 1 || channels > ffmpeg::maximumChannels || rate < 1
            || rate > uint32_t(ffmpeg::maximumSampleRate) || small > large || small < 6 || large > 13 || p[29] != 1)
            return false;
        head.stream = Stream{AudioCodecKind::vorbis, int(rate), channels, 0};
        return true;
    }
    if (id.size() >= 19 && std::memcmp(p, "OpusHead", 8) == 0) {
        const int channels = p[9];
        if ((p[8] & 0xF0) != 0 || channels < 1 || channels > ffmpeg::maximumChannels)
            return false;
        head.stream = Stream{AudioCodecKind::opus, 48000, channels, 0};
        head.preSkip = p[10] | p[11] << 8;
        return true;
    }
    return false;
}

std::optional<Head> readHead(PageFile &pages, int64_t start)
{
    Head head;
    const auto first = pages.header(start);
    if (!first || first->flags != firstFlag || first->lacing.size() != 1 || !first->endsPacket())
        return std::nullopt;
    const auto firstBytes = pages.whole(*first);
    if (firstBytes.empty())
        return std::nullopt;
    head.serial = first->serial;
    head.id = QByteArray(reinterpret_cast<const char *>(firstBytes.data() + first->headerSize()), first->bodySize);
    if (!readIdentification(head.id, head))
        return std::nullopt;
    const bool vorbis = head.stream.codec == AudioCodecKind::vorbis;
    const int headerPackets = vorbis ? 3 : 2;
    int packets = 1;
    int64_t at = first->end();
    for (int i = 0; i < maximumHeaderPages; ++i) {
        const auto page = pages.header(at);
        // Another stream's page, a second beginning or an end among the headers: not one plain stream.
        if (!page || page->serial != head.serial || (page->flags & (firstFlag | lastFlag)))
            return std::nullopt;
        const std::vector<Piece> pieces = piecesOf(*page);
        if (packets < headerPackets) {
            const bool setupHere = vorbis && packets + int(pieces.size()) > 2;
            const auto bytes = setupHere ? pages.whole(*page) : std::span<const uint8_t>{};
            if (setupHere && bytes.empty())
                return std::nullopt;
            for (const Piece &piece : pieces) {
                if (packets == headerPackets) // audio must begin on a page of its own
                    return std::nullopt;
                if (vorbis && packets == 2) {
                    if (head.setup.size() + piece.size > maximumSetupBytes)
                        return std::nullopt;
                    head.setup.append(reinterpret_cast<const char *>(bytes.data() + page->headerSize() + piece.at),
                                      piece.size);
                }
                packets += piece.ends;
            }
            at = page->end();
            continue;
        }
        if ((page->flags & continuedFlag) || page->granule < 0)
            return std::nullopt;
        const auto bytes = pages.whole(*page);
        if (bytes.empty())
            return std::nullopt;
        for (const Piece &piece : pieces) {
            if (!piece.ends)
                break;
            if (piece.size == 0)
                return std::nullopt;
            const uint8_t *packet = bytes.data() + page->headerSize() + piece.at;
            head.firstAudioPackets.push_back({packet[0], piece.size > 1 ? packet[1] : uint8_t(0), piece.size});
        }
        if (head.firstAudioPackets.empty())
            return std::nullopt;
        head.firstAudioOffset = page->offset;
        head.firstAudioGranule = page->granule;
        return head;
    }
    return std::nullopt;
}

// The last page (it ends the stream and the file) and the one before it, both intact.
struct Tail {
    Page last, previous;
    std::vector<PacketStart> lastPackets;
    PacketStart previousPacket; // the last packet that ends on the previous page
};

std::optional<Tail> findTail(const Page &lastPage, const Page &previousPage, std::span<const uint8_t> lastBytes,
                             std::span<const uint8_t> previousBytes)
{
    Tail tail{lastPage, previousPage, {}, {}};
    for (const Piece &piece : piecesOf(lastPage)) {
        if (!piece.begins || !piece.ends || piece.size == 0)
            return std::nullopt;
        const uint8_t *packet = lastBytes.data() + lastPage.headerSize() + piece.at;
        tail.lastPackets.push_back({packet[0], piece.size > 1 ? packet[1] : uint8_t(0), piece.size});
    }
    const std::vector<Piece> pieces = piecesOf(previousPage);
    if (tail.lastPackets.empty() || pieces.empty() || !pieces.back().begins || pieces.back().size == 0)
        return std::nullopt;
    const uint8_t *packet = previousBytes.data() + previousPage.headerSize() + pieces.back().at;
    tail.previousPacket = {packet[0], pieces.back().size > 1 ? packet[1] : uint8_t(0), pieces.back().size};
    return tail;
}

std::optional<Tail> readTail(const FileHandle &file, const Head &head, int64_t fileSize)
{
    for (const int64_t reach : {windowBytes, 2 * maximumPageBytes}) {
        const int64_t from = std::max(head.firstAudioOffset, fileSize - reach);
        const QByteArray tailBytes = file.preadUpTo(from, fileSize - from);
        if (tailBytes.size() != fileSize - from)
            return std::nullopt;
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(tailBytes.constData()),
                                             size_t(tailBytes.size()));
        // Every place a page header could start; the one that ends the file is the last page,
        // and the one that ends where it starts, the page before.
        std::vector<Page> candidates;
        for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
            const void *found = memmem(bytes.data() + i, bytes.size() - i, "OggS", 4);
            if (!found)
                break;
            i = size_t(static_cast<const uint8_t *>(found) - bytes.data());
            if (auto page = pageHeader(bytes.subspan(i), from + int64_t(i)))
                candidates.push_back(std::move(*page));
        }
        const auto bytesOf = [&](const Page &page) {
            const auto whole = bytes.subspan(size_t(page.offset - from), size_t(page.end() - page.offset));
            return checksumHolds(whole.data(), whole.size()) ? whole : std::span<const uint8_t>{};
        };
        bool retry = false;
        for (const Page &last : candidates) {
            if (last.end() != fileSize)
                continue;
            const auto lastBytes = bytesOf(last);
            if (lastBytes.empty())
                continue;
            for (const Page &previous : candidates) {
                if (previous.end() != last.offset)
                    continue;
                if (const auto previousBytes = bytesOf(previous); !previousBytes.empty())
                    return findTail(last, previous, lastBytes, previousBytes);
            }
            // Only a page before that starts further back than was read is worth a second look.
            retry = last.offset - from < maximumPageBytes && from != head.firstAudioOffset;
            break;
        }
        if (!retry)
            return std::nullopt;
    }
    return std::nullopt;
}

// Samples of an Opus packet by its table of contents; 0 when the packet is not one.
int opusSamples(const PacketStart &packet)
{
    const unsigned config = packet.first >> 3, count = packet.first & 3;
    const int frame = config < 12 ? std::max(480, 960 * int(config & 3)) : config < 16 ? 480 << (config & 1)
                                                                                       : 120 << (config & 3);
    int frames = count == 0 ? 1 : count < 3 ? 2 : packet.size < 2 ? 0 : packet.second & 0x3F;
    const int samples = frame * frames;
    return samples <= maximumOpusPacketFrames ? samples : 0;
}

std::optional<int64_t> opusLength(const Head &head, const Tail &tail)
{
    int64_t firstPage = 0, lastPage = 0;
    for (const PacketStart &packet : head.firstAudioPackets) {
        const int samples = opusSamples(packet);
        if (samples == 0)
            return std::nullopt;
        firstPage += samples;
    }
    for (const PacketStart &packet : tail.lastPackets) {
        const int samples = opusSamples(packet);
        if (samples == 0)
            return std::nullopt;
        lastPage += samples;
    }
    const int64_t start = head.firstAudioGranule - firstPage;
    // The last page's packets reach at least as far as its granule: the decoder drops what lies past it.
    const int64_t excess = tail.previous.granule + lastPage - tail.last.granule;
    if (start < 0 || excess < 0 || excess > lastPage || tail.previous.granule - start < head.preSkip)
        return std::nullopt;
    return tail.last.granule - start - head.preSkip;
}

struct VorbisParserFree {
    void operator()(AVVorbisParseContext *parser) const { av_vorbis_parse_free(&parser); }
};

std::optional<int64_t> vorbisLength(const Head &head, const Tail &tail)
{
    // The parser learns each mode's block size from the setup header.
    static const char comment[] = "\x03vorbis\0\0\0\0\0\0\0\0\x01";
    QByteArray extradata(1, '\x02');
    for (qsizetype n : {head.id.size(), qsizetype(sizeof comment - 1)}) {
        for (; n >= 255; n -= 255)
            extradata.append('\xFF');
        extradata.append(char(n));
    }
    extradata.append(head.id).append(comment, sizeof comment - 1).append(head.setup);
    ffmpeg::silenceLog();
    const std::unique_ptr<AVVorbisParseContext, VorbisParserFree> parser(
        av_vorbis_parse_init(reinterpret_cast<const uint8_t *>(extradata.constData()), int(extradata.size())));
    if (!parser)
        return std::nullopt;
    const auto samples = [&](const PacketStart &packet) {
        return av_vorbis_parse_frame(parser.get(), &packet.first, 1);
    };
    // The first packet only primes the decoder's overlap and gives no samples.
    int64_t firstPage = 0;
    for (size_t i = 0; i < head.firstAudioPackets.size(); ++i) {
        const int n = samples(head.firstAudioPackets[i]);
        if (n <= 0)
            return std::nullopt;
        firstPage += i == 0 ? 0 : n;
    }
    if (samples(tail.previousPacket) <= 0)
        return std::nullopt;
    int64_t lastPage = 0, lastPacket = 0;
    for (const PacketStart &packet : tail.lastPackets) {
        lastPacket = samples(packet);
        if (lastPacket <= 0)
            return std::nullopt;
        lastPage += lastPacket;
    }
    const int64_t start = head.firstAudioGranule - firstPage;
    // Only the last packet is trimmed to the granule.
    const int64_t excess = tail.previous.granule + lastPage - tail.last.granule;
    if (start < 0 || excess < 0 || excess > lastPacket)
        return std::nullopt;
    return tail.last.granule - start;
}

} // namespace

std::optional<Stream> describe(const FileHandle &file, int64_t start, int64_t fileSize)
{
    PageFile pages(file, fileSize);
    const std::optional<Head> head = readHead(pages, start);
    if (!head)
        return std::nullopt;
    const std::optional<Tail> tail = readTail(file, *head, fileSize);
    if (!tail)
        return std::nullopt;
    const Page &last = tail->last, &previous = tail->previous;
    if (!(last.flags & lastFlag) || (last.flags & (firstFlag | continuedFlag)) || last.serial != head->serial
        || previous.serial != head->serial || (previous.flags & (firstFlag | lastFlag)) || last.granule < 0
        || previous.granule < 0 || !previous.endsPacket() || previous.offset < head->firstAudioOffset
        || last.granule < previous.granule || last.granule > (int64_t(1) << 62))
        return std::nullopt;
    const std::optional<int64_t> length
        = head->stream.codec == AudioCodecKind::opus ? opusLength(*head, *tail) : vorbisLength(*head, *tail);
    if (!length || *length <= 0)
        return std::nullopt;
    Stream stream = head->stream;
    stream.exactLength = *length;
    return stream;
}

} // namespace tampod::oggaudio
