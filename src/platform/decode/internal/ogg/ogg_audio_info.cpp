#include "platform/decode/internal/ogg/ogg_audio_info.h"

#include "core/file_handle.h"
#include "platform/decode/internal/ogg/ogg_packet_duration.h"
#include "platform/decode/internal/ogg/ogg_page_file.h"
#include "platform/internal/ffmpeg_owners.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

namespace tampod::oggaudio {

namespace {

constexpr int64_t windowBytes = 1 << 18;

// The first bytes of a packet, enough to time it, and its size.
struct PacketStart {
    uint8_t first = 0;
    uint8_t second = 0;
    int64_t size = 0;
};

struct VorbisParserFree {
    void operator()(AVVorbisParseContext *parser) const { av_vorbis_parse_free(&parser); }
};

using VorbisParser = std::unique_ptr<AVVorbisParseContext, VorbisParserFree>;

// The headers a Vorbis decoder opens with, laced as the demuxer hands them on; the comment
// header carries no tags, which the decoder does not read.
QByteArray vorbisExtradata(const Head &head)
{
    static const char comment[] = "\x03vorbis\0\0\0\0\0\0\0\0\x01";
    QByteArray extradata(1, '\x02');
    for (qsizetype n : {head.id.size(), qsizetype(sizeof comment - 1)}) {
        for (; n >= 255; n -= 255)
            extradata.append('\xFF');
        extradata.append(char(n));
    }
    return extradata.append(head.id).append(comment, sizeof comment - 1).append(head.setup);
}

// A parser that learns each mode's block size from the stream's setup header.
VorbisParser vorbisParser(const Head &head)
{
    const QByteArray extradata = vorbisExtradata(head);
    ffmpeg::silenceLog();
    return VorbisParser(
        av_vorbis_parse_init(reinterpret_cast<const uint8_t *>(extradata.constData()), int(extradata.size())));
}

// What the walk through one link's pages finds.
struct LinkWalk {
    int64_t frames = 0;
    int64_t end = 0;
    int64_t lastGranule = 0;
    int64_t excess = 0;
};

// Every page of the link from start to its last page, in order. The length the decode delivers,
// or nullopt unless the link is one plain stream whose pages all hold their checksums, follow
// each other by sequence number without a gap, and carry granule positions that agree with the
// durations of their packets: a page's granule is where its last finished packet ends (-1 where
// none does), and only the last page (the one marked so, before dataEnd) may end the stream
// early. Where the first page of audio is also the last, its granule is the end: the stream
// starts at 0 unless the page's packets fall short of it (as the command-line decoders read it).
std::optional<LinkWalk> walkLength(PageFile &pages, const Head &head, int64_t start, int64_t dataEnd)
{
    const bool vorbis = head.stream.codec == AudioCodecKind::vorbis;
    VorbisParser parser;
    if (vorbis && !(parser = vorbisParser(head)))
        return std::nullopt;
    const auto duration = [&](const PacketStart &packet) {
        if (packet.size == 0)
            return 0;
        return vorbis ? av_vorbis_parse_frame(parser.get(), &packet.first, 1) : opusPacketSamples(packet.first, packet.second, packet.size);
    };
    uint32_t sequence = 0;
    bool continues = false; // the page before ended inside a packet
    PacketStart packet;     // the packet being gathered
    int64_t decoded = 0;    // samples of the audio packets finished so far
    int64_t origin = -1;    // the granule position of the first sample
    int64_t audioPages = 0, lastPacket = 0, beforeLastPage = 0;
    bool priming = true;
    for (int64_t at = start; at < dataEnd;) {
        const auto page = pages.header(at);
        const auto bytes = page ? pages.whole(*page) : std::span<const uint8_t>{};
        if (bytes.empty() || page->lacing.empty() || page->end() > dataEnd)
            return std::nullopt;
        const uint32_t pageSequence = readLe32(bytes.data() + 18);
        const bool first = at == start, last = page->flags & lastFlag, audio = at >= head.firstAudioOffset;
        if (page->serial != head.serial || (!first && pageSequence != sequence + 1)
            || bool(page->flags & firstFlag) != first || bool(page->flags & continuedFlag) != continues)
            return std::nullopt;
        sequence = pageSequence;
        int finished = 0;
        const uint8_t *body = bytes.data() + page->headerSize();
        for (const uint8_t l : page->lacing) {
            if (packet.size == 0 && l > 0)
                packet.first = body[0];
            if (packet.size < 2 && packet.size + l >= 2)
                packet.second = body[1 - packet.size];
            packet.size += l;
            body += l;
            if (l == 255)
                continue;
            if (audio) {
                const int samples = duration(packet);
                if (samples <= 0)
                    return std::nullopt;
                // A Vorbis stream's first packet only primes the decoder's overlap.
                lastPacket = vorbis && priming ? 0 : samples;
                priming = false;
                decoded += lastPacket;
            }
            ++finished;
            packet = PacketStart{};
        }
        continues = page->lacing.back() == 255;
        if (!audio) {
            if (page->granule != 0 && !(finished == 0 && page->granule == -1))
                return std::nullopt;
        } else if (finished == 0) {
            if (page->granule != -1 || origin < 0)
                return std::nullopt;
        } else if (page->granule < 0 || page->granule > (int64_t(1) << 62)) {
            return std::nullopt;
        } else if (origin < 0) {
            // The first page of audio fixes where the stream starts.
            origin = page->granule - decoded;
            if (origin < 0 && !(vorbis && last))
                return std::nullopt;
            origin = std::max<int64_t>(origin, 0);
        } else if (!last && page->granule != origin + decoded) {
            return std::nullopt;
        }
        audioPages += audio;
        if (last) {
            // The last page's packets reach at least as far as its granule: what lies past it is
            // trimmed, from the last packet of Vorbis, from the page's packets of Opus (or, where
            // the one page of audio is the last, from its packets).
            const int64_t excess = origin + decoded - page->granule;
            const int64_t lastPageSamples = decoded - beforeLastPage;
            const bool onePage = audioPages == 1;
            if (audioPages == 0 || continues || excess < 0
                || (!onePage && excess > (vorbis ? lastPacket : lastPageSamples))
                || (!vorbis && (onePage || beforeLastPage < head.preSkip)))
                return std::nullopt;
            return LinkWalk{page->granule - origin - (vorbis ? 0 : head.preSkip), page->end(), page->granule,
                            excess};
        }
        beforeLastPage = decoded;
        at = page->end();
    }
    return std::nullopt;
}

// An Ogg FLAC stream's first packet: the mapping's header, the native signature, and the
// STREAMINFO block, which holds the rate and the channels.
bool readFlacIdentification(const QByteArray &id, Stream &stream)
{
    const auto *p = reinterpret_cast<const uint8_t *>(id.constData());
    if (id.size() < 51 || std::memcmp(p, "\x7F" "FLAC", 5) != 0 || std::memcmp(p + 9, "fLaC", 4) != 0)
        return false;
    const uint8_t *info = p + 17;
    stream = Stream{AudioCodecKind::flac, int(info[10]) << 12 | int(info[11]) << 4 | info[12] >> 4,
                    ((info[12] >> 1) & 7) + 1, 0};
    return stream.sampleRate > 0;
}

// The headers a decoder of the link alone opens with.
QByteArray extradataOf(const Head &head)
{
    return head.stream.codec == AudioCodecKind::vorbis ? vorbisExtradata(head) : head.id;
}
} // namespace

std::optional<Described> describeLinks(const FileHandle &file, int64_t start, int64_t fileSize)
{
    // Every page of the file is read, in order: large reads, each small enough to stay in the
    // cache while its pages are checked.
    PageFile pages(file, fileSize, windowBytes);
    const std::optional<Page> last = lastPage(pages, start);
    if (!last)
        return std::nullopt;
    Described described;
    described.dataEnd = last->end();
    constexpr int64_t maximumLength = int64_t(1) << 62;
    for (int64_t at = start; at < described.dataEnd;) {
        const std::optional<Head> head = readHead(pages, at);
        if (!head)
            return std::nullopt;
        const std::optional<LinkWalk> walk = walkLength(pages, *head, at, described.dataEnd);
        Stream &stream = described.stream;
        if (!walk || walk->frames <= 0 || walk->frames > maximumLength - stream.exactLength)
            return std::nullopt;
        const Stream &link = head->stream;
        if (described.links.empty()) {
            stream = link;
        } else if (link.codec != stream.codec || link.sampleRate != stream.sampleRate
                   || link.channels != stream.channels) {
            return std::nullopt;
        }
        stream.exactLength += walk->frames;
        described.links.push_back({at, head->firstAudioOffset, walk->end, head->serial, walk->frames,
                                   walk->lastGranule, walk->excess, extradataOf(*head)});
        at = walk->end;
    }
    return described;
}

std::optional<Stream> describe(const FileHandle &file, int64_t start, int64_t fileSize)
{
    const std::optional<Described> described = describeLinks(file, start, fileSize);
    return described ? std::optional<Stream>(described->stream) : std::nullopt;
}

Chain readChain(const FileHandle &file, int64_t fileSize)
{
    PageFile pages(file, fileSize, windowBytes);
    Chain chain;
    std::vector<int64_t> starts;
    std::optional<Stream> first;
    bool pastFirst = false; // a page that begins no stream has come
    bool linkEnded = true;  // a page that begins no stream came since the last that did
    for (auto page = pages.next(0, fileSize); page; page = pages.next(page->end(), fileSize)) {
        if (!(page->flags & firstFlag)) {
            pastFirst = linkEnded = true;
            continue;
        }
        if (std::exchange(linkEnded, false))
            starts.push_back(page->offset);
        const auto bytes = pages.whole(*page);
        const auto *body = reinterpret_cast<const char *>(bytes.data() + page->headerSize());
        const QByteArray id = QByteArray::fromRawData(body, qsizetype(page->bodySize));
        Head head;
        if (!readIdentification(id, head) && !readFlacIdentification(id, head.stream))
            continue;
        const Stream &link = head.stream;
        if (!first) {
            first = link;
        } else if (pastFirst
                   && (link.codec != first->codec || link.channels != first->channels
                       || link.sampleRate != first->sampleRate)) {
            chain.changesFormat = true;
            return chain;
        }
    }
    if (starts.size() < 2)
        return chain;
    for (const int64_t start : starts) {
        PageFile heads(file, fileSize, int64_t(1) << 16);
        const std::optional<Head> head = readHead(heads, start);
        if (!head) {
            chain.links.clear();
            return chain;
        }
        chain.links.push_back({start, extradataOf(*head)});
    }
    return chain;
}

} // namespace tampod::oggaudio
