#include "platform/decode/internal/ogg/ogg_page_file.h"

#include "core/file_handle.h"
#include "platform/decode/internal/decode_limits.h"

#include <algorithm>
#include <array>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cstring>

namespace tampod::oggaudio {

namespace {

constexpr int maximumHeaderPages = 1024;
constexpr qsizetype maximumSetupBytes = 1 << 22;
// Bytes after the last page (a tag with its pictures, padding) looked through for it.
constexpr int64_t maximumTrailingBytes = int64_t(1) << 24;

// CRC-32 with polynomial 0x04C11DB7, not reflected, over the page with its own field as zeros.
// Every page of a file is checked, so the bulk is folded 64 bytes a step with carry-less
// multiplication where the processor has it, and eight bytes a step by tables elsewhere
// (table k: a byte followed by k zero bytes).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables crcTables = [] {
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        t[0][i] = r;
    }
    for (size_t k = 1; k < 8; ++k)
        for (size_t i = 0; i < 256; ++i)
            t[k][i] = t[k - 1][i] << 8 ^ t[0][t[k - 1][i] >> 24];
    return t;
}();

uint32_t readBe32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t crcByTables(uint32_t crc, const uint8_t *from, const uint8_t *to)
{
    const auto &t = crcTables;
    for (; to - from >= 8; from += 8) {
        const uint32_t a = crc ^ readBe32(from), b = readBe32(from + 4);
        crc = t[7][a >> 24] ^ t[6][(a >> 16) & 0xFF] ^ t[5][(a >> 8) & 0xFF] ^ t[4][a & 0xFF]
              ^ t[3][b >> 24] ^ t[2][(b >> 16) & 0xFF] ^ t[1][(b >> 8) & 0xFF] ^ t[0][b & 0xFF];
    }
    for (; from < to; ++from)
        crc = (crc << 8) ^ t[0][((crc >> 24) ^ *from) & 0xFF];
    return crc;
}

#if defined(__x86_64__)
// x^n mod P.
constexpr uint64_t powerOfX(int n)
{
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t(1) << 32))
            r ^= (uint64_t(1) << 32) | 0x04C11DB7u;
    }
    return r;
}

// Sixteen bytes as one polynomial, the first bit the highest power.
__attribute__((target("pclmul,ssse3"))) inline __m128i loadBlock(const uint8_t *p)
{
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), reverse);
}

// r · x^(distance) + block, reduced to below x^128 (distance 128 or 512): r = h·x^64 + l, and
// h·x^(distance+64) and l·x^(distance) are each taken mod P first.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i r, __m128i constants,
                                                            __m128i block)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(r, constants, 0x11),
                                       _mm_clmulepi64_si128(r, constants, 0x00)),
                         block);
}

// At least 64 bytes: the message with crc added to its first four bytes, folded to 128 bits,
// which the tables then take to the remainder, and the bytes past the last whole block.
__attribute__((target("pclmul,ssse3"))) uint32_t crcByFolding(uint32_t crc, const uint8_t *from,
                                                              const uint8_t *to)
{
    const __m128i by128 = _mm_set_epi64x(int64_t(powerOfX(192)), int64_t(powerOfX(128)));
    const __m128i by512 = _mm_set_epi64x(int64_t(powerOfX(576)), int64_t(powerOfX(512)));
    __m128i a0 = _mm_xor_si128(loadBlock(from), _mm_set_epi32(int(crc), 0, 0, 0));
    __m128i a1 = loadBlock(from + 16), a2 = loadBlock(from + 32), a3 = loadBlock(from + 48);
    for (from += 64; to - from >= 64; from += 64) {
        a0 = fold(a0, by512, loadBlock(from));
        a1 = fold(a1, by512, loadBlock(from + 16));
        a2 = fold(a2, by512, loadBlock(from + 32));
        a3 = fold(a3, by512, loadBlock(from + 48));
    }
    __m128i r = fold(fold(fold(a0, by128, a1), by128, a2), by128, a3);
    for (; to - from >= 16; from += 16)
        r = fold(r, by128, loadBlock(from));
    alignas(16) uint8_t rest[16];
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_store_si128(reinterpret_cast<__m128i *>(rest), _mm_shuffle_epi8(r, reverse));
    return crcByTables(crcByTables(0, rest, rest + 16), from, to);
}

const bool canFold = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
#endif

uint32_t crcOf(uint32_t crc, const uint8_t *from, const uint8_t *to)
{
#if defined(__x86_64__)
    if (to - from >= 64 && canFold)
        return crcByFolding(crc, from, to);
#endif
    return crcByTables(crc, from, to);
}

bool checksumHolds(const uint8_t *page, size_t size)
{
    static constexpr uint8_t zeros[4] = {};
    uint32_t crc = crcOf(0, page, page + 22);
    crc = crcOf(crc, zeros, zeros + 4);
    return crcOf(crc, page + 26, page + size) == readLe32(page + 22);
}

} // namespace

// The page header at the front of bytes, found at offset in the file; its body is not looked at.
std::optional<Page> pageHeader(std::span<const uint8_t> bytes, int64_t offset)
{
    if (bytes.size() < size_t(pageHeaderBytes) || std::memcmp(bytes.data(), "OggS", 5) != 0
        || bytes[5] > 7)
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
    page.lacing.assign(bytes.begin() + pageHeaderBytes,
                       bytes.begin() + pageHeaderBytes + int64_t(segments));
    for (const uint8_t l : page.lacing)
        page.bodySize += l;
    return page;
}

std::vector<Piece> piecesOf(const Page &page)
{
    std::vector<Piece> pieces;
    Piece current{0, 0, false};
    for (const uint8_t l : page.lacing) {
        current.size += l;
        if (l < 255) {
            current.ends = true;
            pieces.push_back(current);
            current = Piece{current.at + current.size, 0, false};
        }
    }
    if (!page.endsPacket() && !page.lacing.empty())
        pieces.push_back(current);
    return pieces;
}

std::optional<Page> PageFile::header(int64_t offset)
{
    if (offset < 0 || offset + pageHeaderBytes > fileSize_)
        return std::nullopt;
    if (!holds(offset, std::min(pageHeaderBytes + 255, fileSize_ - offset)))
        load(offset, windowBytes_);
    return pageHeader(view(offset), offset);
}

std::span<const uint8_t> PageFile::whole(const Page &page)
{
    if (page.end() > fileSize_)
        return {};
    if (!holds(page.offset, page.end() - page.offset))
        load(page.offset, std::max(windowBytes_, page.end() - page.offset));
    const auto bytes = view(page.offset);
    const size_t size = size_t(page.end() - page.offset);
    if (bytes.size() < size || !checksumHolds(bytes.data(), size))
        return {};
    return bytes.first(size);
}

std::optional<Page> PageFile::next(int64_t from, int64_t limit)
{
    limit = std::min(limit, fileSize_ - pageHeaderBytes + 1);
    for (int64_t at = std::max<int64_t>(from, 0); at < limit;) {
        if (!holds(at, std::min(pageHeaderBytes + 255, fileSize_ - at)))
            load(at, windowBytes_);
        const auto bytes = view(at);
        const auto *found = static_cast<const uint8_t *>(
            memmem(bytes.data(), size_t(std::min<int64_t>(int64_t(bytes.size()), limit - at + 3)),
                   "OggS", 4));
        if (!found) {
            // The window's last bytes may begin a capture pattern that the next window completes.
            at += std::max<int64_t>(1, int64_t(bytes.size()) - 3);
            continue;
        }
        at += found - bytes.data();
        if (at >= limit)
            break;
        if (const auto page = header(at); page && !whole(*page).empty())
            return page;
        ++at;
    }
    return std::nullopt;
}

void PageFile::load(int64_t offset, int64_t size)
{
    window_ = file_.preadUpTo(offset, std::min(size, fileSize_ - offset));
    windowStart_ = offset;
}

std::span<const uint8_t> PageFile::view(int64_t offset) const
{
    if (offset < windowStart_ || offset > windowStart_ + window_.size())
        return {};
    const auto *data = reinterpret_cast<const uint8_t *>(window_.constData());
    return {data + (offset - windowStart_), size_t(windowStart_ + window_.size() - offset)};
}

std::optional<Page> lastPage(PageFile &pages, int64_t from)
{
    // Each step looks for page starts in one stretch before the last: the last page found in the
    // first stretch that holds one is the last of the file. Past a tag's size no page is looked
    // for: such a file is not taken for Ogg data followed by a tag.
    const int64_t floor = std::max(from, pages.fileSize() - maximumTrailingBytes);
    for (int64_t end = pages.fileSize(); end > floor;) {
        const int64_t begin = std::max(floor, end - maximumPageBytes);
        std::optional<Page> last;
        for (auto page = pages.next(begin, end); page; page = pages.next(page->end(), end))
            last = page;
        if (last)
            return last;
        end = begin;
    }
    return std::nullopt;
}

// The same checks the demuxer makes of the identification header, so a stream it refuses is
// never described here.
bool readIdentification(const QByteArray &id, Head &head)
{
    const auto *p = reinterpret_cast<const uint8_t *>(id.constData());
    if (id.size() >= 30 && std::memcmp(p, "\x01vorbis", 7) == 0) {
        const uint32_t version = readLe32(p + 7), rate = readLe32(p + 12);
        const int channels = p[11], small = p[28] & 15, large = p[28] >> 4;
        if (version != 0 || channels < 1 || channels > decodelimits::maximumChannels || rate < 1
            || rate > uint32_t(decodelimits::maximumSampleRate) || small > large || small < 6
            || large > 13 || p[29] != 1)
            return false;
        head.stream = Stream{AudioCodecKind::vorbis, int(rate), channels, 0};
        return true;
    }
    if (id.size() >= 19 && std::memcmp(p, "OpusHead", 8) == 0) {
        const int channels = p[9];
        if ((p[8] & 0xF0) != 0 || channels < 1 || channels > decodelimits::maximumChannels)
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
    head.id = QByteArray(reinterpret_cast<const char *>(firstBytes.data() + first->headerSize()),
                         first->bodySize);
    if (!readIdentification(head.id, head))
        return std::nullopt;
    const bool vorbis = head.stream.codec == AudioCodecKind::vorbis;
    const int headerPackets = vorbis ? 3 : 2;
    int packets = 1;
    int64_t at = first->end();
    for (int i = 0; i < maximumHeaderPages; ++i) {
        const auto page = pages.header(at);
        // Another stream's page, a second beginning or an end among the headers: not one plain
        // stream. (Audio may end on its first page.)
        if (!page || page->serial != head.serial || (page->flags & firstFlag)
            || (packets < headerPackets && (page->flags & lastFlag)))
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
                    head.setup.append(reinterpret_cast<const char *>(
                                          bytes.data() + page->headerSize() + piece.at),
                                      piece.size);
                }
                packets += piece.ends;
            }
            at = page->end();
            continue;
        }
        head.firstAudioOffset = page->offset;
        return head;
    }
    return std::nullopt;
}

} // namespace tampod::oggaudio
