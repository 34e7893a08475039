#include "platform/decode/internal/container_header.h"

#include "core/byte_reader.h"
#include "core/error.h"
#include "core/file_handle.h"
#include "platform/decode/internal/decode_limits.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/decode/internal/mpeg/mpeg_audio_info.h"
#include "platform/decode/internal/ogg/ogg_audio_info.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

namespace tampod::containerheader {

namespace {

using ffmpeg::StreamDescription;

constexpr int maximumChunks = 256;
constexpr int64_t toTheEnd = std::numeric_limits<int64_t>::max();

struct Pcm {
    const char *container = nullptr;
    int bits = 0;
    bool isFloat = false;
    bool isSigned = true;
    int64_t rate = 0;
    int64_t channels = 0;
    int64_t dataStart = 0;
    int64_t dataBytes = toTheEnd;
    int64_t statedFrames = toTheEnd;
};

bool wholeBytes(int bits, bool isFloat)
{
    return isFloat ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A PCM stream's length is what both its header and the bytes really there allow.
std::optional<StreamDescription> describePcm(const Pcm &pcm, int64_t fileSize)
{
    if (!wholeBytes(pcm.bits, pcm.isFloat) || pcm.channels < 1 || pcm.channels > decodelimits::maximumChannels
        || pcm.rate < 1 || pcm.rate > decodelimits::maximumSampleRate || pcm.dataStart > fileSize)
        return std::nullopt;
    const int64_t bytesPerFrame = pcm.channels * (pcm.bits / 8);
    // A file cut short of what its header states is left to the full probe, whose length
    // rules for damaged files differ by container.
    if ((pcm.dataBytes != toTheEnd && pcm.dataBytes > fileSize - pcm.dataStart)
        || (pcm.statedFrames != toTheEnd && pcm.statedFrames > (fileSize - pcm.dataStart) / bytesPerFrame))
        return std::nullopt;
    StreamDescription d;
    d.format.codec = AudioCodecKind::lpcm;
    d.format.container = QString::fromLatin1(pcm.container);
    d.format.bitsPerChannel = pcm.bits;
    d.format.isFloat = pcm.isFloat;
    d.format.isSignedInteger = pcm.isSigned && !pcm.isFloat;
    d.format.sampleRate = double(pcm.rate);
    d.format.channels = int(pcm.channels);
    d.lossless = true;
    d.seekByTimestamp = true;
    d.exactLength = std::min({pcm.dataBytes, fileSize - pcm.dataStart}) / bytesPerFrame;
    d.exactLength = std::min(*d.exactLength, pcm.statedFrames);
    return d;
}

// Packed S/PDIF bursts in 16-bit WAV data make FFmpeg decode AC-3 or DTS instead of PCM. The
// demuxer looks for them in the first 64 KiB of the data only, so no more is read here.
bool mayHoldBursts(const FileHandle &file, int64_t dataStart)
{
    static const char sync[] = {'\x72', '\xF8', '\x1F', '\x4E'};
    const QByteArray data = file.preadUpTo(dataStart, 1 << 16);
    return memmem(data.constData(), size_t(data.size()), sync, sizeof sync) != nullptr;
}

std::optional<Header> readWav(const FileHandle &file, int64_t start, int64_t fileSize, bool rf64)
{
    Header header{"wav", std::nullopt, false};
    static const char guidTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    Pcm pcm;
    pcm.container = "wav";
    bool haveFormat = false;
    std::optional<int64_t> ds64Data;
    int64_t at = start + 12;
    for (int i = 0; i < maximumChunks; ++i) {
        const QByteArray chunkBytes = file.preadUpTo(at, 8);
        ByteReader chunk(chunkBytes);
        if (!chunk.has(8))
            return header;
        const QByteArray id = chunk.byteArray(4);
        const int64_t size = chunk.u32le();
        if (id == "ds64" && rf64 && size >= 24) {
            const QByteArray rBytes = file.preadUpTo(at + 8, 24);
            ByteReader r(rBytes);
            r.skip(8);
            ds64Data = int64_t(std::min<uint64_t>(r.u64le(), uint64_t(toTheEnd)));
        } else if (id == "fmt " && size >= 16) {
            const QByteArray rBytes = file.preadUpTo(at + 8, std::min<int64_t>(size, 40));
            ByteReader r(rBytes);
            int tag = r.u16le();
            pcm.channels = r.u16le();
            pcm.rate = r.u32le();
            r.skip(4);
            const int blockAlign = r.u16le();
            pcm.bits = r.u16le();
            if (tag == 0xFFFE) {
                if (size < 40 || r.u16le() < 22 || r.u16le() != pcm.bits)
                    return header;
                r.skip(4);
                tag = r.u16le();
                if (std::memcmp(r.bytes(14).data(), guidTail, 14) != 0)
                    return header;
            }
            if ((tag != 1 && tag != 3) || blockAlign != pcm.channels * (pcm.bits / 8))
                return header;
            pcm.isFloat = tag == 3;
            pcm.isSigned = pcm.bits != 8;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || (rf64 && !ds64Data))
                return header;
            pcm.dataStart = at + 8;
            if (rf64)
                pcm.dataBytes = *ds64Data;
            else if (size != 0 && size != 0xFFFFFFFF) // both mean "as far as the file goes"
                pcm.dataBytes = size;
            if (!pcm.isFloat && pcm.bits == 16 && mayHoldBursts(file, pcm.dataStart))
                return header;
            header.description = describePcm(pcm, fileSize);
            header.parametersInHeader = header.description.has_value();
            return header;
        }
        at += 8 + size + (size & 1);
    }
    return header;
}

// An 80-bit extended float that must be a whole number of hertz.
std::optional<int64_t> extendedRate(ByteReader &r)
{
    const int exponent = (r.u16be() & 0x7FFF) - 16383 - 63;
    const uint64_t mantissa = r.u64be();
    if (exponent > 0 || exponent < -63)
        return std::nullopt;
    const int shift = -exponent;
    if (shift > 0 && (mantissa & ((uint64_t(1) << shift) - 1)) != 0)
        return std::nullopt;
    return int64_t(mantissa >> shift);
}

std::optional<Header> readAiff(const FileHandle &file, int64_t start, int64_t fileSize, bool aifc)
{
    Header header{"aiff", std::nullopt, false};
    Pcm pcm;
    pcm.container = "aiff";
    bool haveFormat = false;
    int64_t at = start + 12;
    for (int i = 0; i < maximumChunks; ++i) {
        const QByteArray chunkBytes = file.preadUpTo(at, 8);
        ByteReader chunk(chunkBytes);
        if (!chunk.has(8))
            return header;
        const QByteArray id = chunk.byteArray(4);
        const int64_t size = chunk.u32be();
        if (id == "COMM" && size >= (aifc ? 22 : 18)) {
            const QByteArray rBytes = file.preadUpTo(at + 8, 22);
            ByteReader r(rBytes);
            pcm.channels = r.u16be();
            pcm.statedFrames = r.u32be();
            pcm.bits = r.u16be();
            const auto rate = extendedRate(r);
            if (!rate)
                return header;
            pcm.rate = *rate;
            const QByteArray compression = aifc ? r.byteArray(4) : QByteArray("NONE");
            if (compression == "fl32" || compression == "FL32" || compression == "fl64" || compression == "FL64") {
                pcm.isFloat = true;
                if (pcm.bits != (compression.endsWith("32") ? 32 : 64))
                    return header;
            } else if (compression != "NONE" && compression != "twos"
                       && !(compression == "sowt" && pcm.bits > 8)) {
                return header;
            }
            haveFormat = true;
        } else if (id == "SSND" && size >= 8) {
            if (!haveFormat)
                return header;
            const QByteArray rBytes = file.preadUpTo(at + 8, 8);
            ByteReader r(rBytes);
            pcm.dataStart = at + 16 + r.u32be();
            header.description = describePcm(pcm, fileSize);
            header.parametersInHeader = header.description.has_value();
            return header;
        }
        at += 8 + size + (size & 1);
    }
    return header;
}

std::optional<Header> readCaf(const FileHandle &file, int64_t start, int64_t fileSize)
{
    Header header{"caf", std::nullopt, false};
    Pcm pcm;
    pcm.container = "caf";
    bool haveFormat = false;
    int64_t at = start + 8;
    for (int i = 0; i < maximumChunks; ++i) {
        const QByteArray chunkBytes = file.preadUpTo(at, 12);
        ByteReader chunk(chunkBytes);
        if (!chunk.has(12))
            return header;
        const QByteArray id = chunk.byteArray(4);
        const int64_t size = int64_t(chunk.u64be());
        if (id == "desc" && size >= 32) {
            const QByteArray rBytes = file.preadUpTo(at + 12, 32);
            ByteReader r(rBytes);
            const uint64_t bits = r.u64be();
            double rate = 0;
            std::memcpy(&rate, &bits, sizeof rate);
            const QByteArray coding = r.byteArray(4);
            const uint32_t flags = r.u32be();
            const uint32_t bytesPerPacket = r.u32be(), framesPerPacket = r.u32be();
            pcm.channels = r.u32be();
            pcm.bits = int(std::min<uint32_t>(r.u32be(), 1024));
            if (coding != "lpcm" || framesPerPacket != 1 || !(rate >= 1 && rate <= decodelimits::maximumSampleRate)
                || rate != double(int64_t(rate)) || bytesPerPacket != pcm.channels * (pcm.bits / 8))
                return header;
            pcm.rate = int64_t(rate);
            pcm.isFloat = flags & 1;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return header;
            pcm.dataStart = at + 16; // past the edit count
            if (size >= 4)
                pcm.dataBytes = size - 4;
            else if (size != -1)
                return header;
            header.description = describePcm(pcm, fileSize);
            header.parametersInHeader = header.description.has_value();
            return header;
        }
        if (size < 0 || size > fileSize)
            return header;
        at += 12 + size;
    }
    return header;
}

std::optional<Header> readFlac(const FileHandle &file, int64_t start)
{
    Header header{"flac", std::nullopt, false};
    const QByteArray rBytes = file.preadUpTo(start + 4, 4 + 18);
    ByteReader r(rBytes);
    if (!r.has(22) || (r.u8() & 0x7F) != 0 || r.u24be() != 34)
        return header;
    r.skip(10);
    const uint64_t packed = r.u64be();
    const int rate = int(packed >> 44);
    const int channels = int((packed >> 41) & 7) + 1;
    const int bits = int((packed >> 36) & 31) + 1;
    const int64_t samples = int64_t(packed & ((uint64_t(1) << 36) - 1));
    if (rate < 1 || bits < 4 || samples == 0)
        return header;
    StreamDescription d;
    d.format.codec = AudioCodecKind::flac;
    d.format.container = QStringLiteral("flac");
    d.format.bitsPerChannel = bits;
    d.format.isSignedInteger = true;
    d.format.sampleRate = rate;
    d.format.channels = channels;
    d.lossless = true;
    d.seekByTimestamp = true;
    // else the decode counts it
    d.exactLength = LengthCache::shared().flacProof(file, start, trailingtags::audioEnd(file, start, file.size())).total;
    header.description = d;
    header.parametersInHeader = true;
    return header;
}

std::optional<Header> readMp3(const FileHandle &file, int64_t start, int64_t fileSize, bool describe)
{
    const auto stream = mpegaudio::taggedStream(file, start);
    if (!stream)
        return std::nullopt;
    Header header{"mp3", std::nullopt, false};
    if (!describe)
        return header;
    // The proof reads near the end of the audio, or where the header does not agree with it
    // there, walks every frame header: once for each unchanged file.
    const rawstream::End end = LengthCache::shared().audioEnd(file, "mp3", start, fileSize);
    StreamDescription d;
    d.format.codec = AudioCodecKind::mpegLayer3;
    d.format.container = QStringLiteral("mp3");
    d.format.sampleRate = stream->sampleRate;
    d.format.channels = stream->channels;
    // Where the frames do not bear the header out, a decode counts them, and seeks go by the
    // frames that decode read: the demuxer's timestamps leave out frames dropped at a cut or a join.
    d.seekByTimestamp = end.trimmed.has_value();
    if (end.trimmed)
        d.exactLength = end.trimmed->length;
    d.infoHeader = end.trimmed;
    d.audioEnd = end.end;
    header.description = d;
    header.parametersInHeader = true;
    return header;
}

// Vorbis or Opus (a chain of links alike) whose pages give the length a decode would find.
std::optional<Header> readOgg(const FileHandle &file, int64_t start, int64_t fileSize)
{
    auto described = start == 0 ? oggaudio::describeLinks(file, start, fileSize) : std::nullopt;
    if (!described)
        return std::nullopt; // the full probe judges it
    const oggaudio::Stream *stream = &described->stream;
    StreamDescription d;
    d.format.codec = stream->codec;
    d.format.container = QStringLiteral("ogg");
    d.format.sampleRate = stream->sampleRate;
    d.format.channels = stream->channels;
    d.exactLength = stream->exactLength;
    return Header{"ogg", d, true, std::make_shared<const oggaudio::Described>(std::move(*described))};
}

// MP4 boxes, read from one moov held in memory.
namespace mp4 {

constexpr int64_t maximumMoovBytes = 32 << 20;
constexpr int maximumBoxes = 4096;

struct Box {
    uint32_t type = 0;
    ByteReader body{std::span<const std::uint8_t>{}};
};

constexpr uint32_t fourcc(const char (&name)[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8
           | uint32_t(uint8_t(name[3]));
}

// The child boxes of a container's body; nullopt where one overruns it.
std::optional<std::vector<Box>> children(ByteReader body)
{
    std::vector<Box> boxes;
    while (body.remaining() > 0) {
        if (!body.has(8) || boxes.size() == maximumBoxes)
            return std::nullopt;
        uint64_t size = body.u32be();
        const uint32_t type = body.u32be();
        uint64_t header = 8;
        if (size == 1) {
            size = body.u64be();
            header = 16;
        }
        if (size < header || size - header > body.remaining()) // also "to the end", left to the demuxer
            return std::nullopt;
        boxes.push_back({type, ByteReader(body.bytes(size_t(size - header)))});
    }
    return boxes;
}

// The one child of that type; nullopt where there is none or several.
std::optional<ByteReader> only(const std::vector<Box> &boxes, uint32_t type)
{
    std::optional<ByteReader> found;
    for (const Box &box : boxes) {
        if (box.type != type)
            continue;
        if (found)
            return std::nullopt;
        found = box.body;
    }
    return found;
}

std::optional<ByteReader> path(ByteReader body, std::initializer_list<uint32_t> types)
{
    for (const uint32_t type : types) {
        const auto boxes = children(body);
        if (!boxes)
            return std::nullopt;
        const auto next = only(*boxes, type);
        if (!next)
            return std::nullopt;
        body = *next;
    }
    return body;
}

// Rounds to nearest, halves away from zero, as the demuxer rescales; nullopt on overflow.
std::optional<int64_t> rescale(uint64_t value, uint64_t multiplier, uint64_t divisor)
{
    if (divisor == 0)
        return std::nullopt;
    const unsigned __int128 scaled = (static_cast<unsigned __int128>(value) * multiplier + divisor / 2) / divisor;
    if (scaled > static_cast<unsigned __int128>(toTheEnd))
        return std::nullopt;
    return int64_t(scaled);
}

// An MPEG-4 descriptor's tag and its expandable length.
std::optional<ByteReader> descriptor(ByteReader &r, uint8_t tag)
{
    if (r.u8() != tag)
        return std::nullopt;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t byte = r.u8();
        length = length << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            break;
        if (i == 3)
            return std::nullopt;
    }
    if (!r.has(length))
        return std::nullopt;
    return ByteReader(r.bytes(length));
}

struct Coding {
    AudioCodecKind codec = AudioCodecKind::other;
    int rate = 0;
    int channels = 0;
    int alacBits = 0;
};

// AAC-LC as the AAC encoders write its AudioSpecificConfig: 1,024-frame blocks, a channel
// configuration that names the count, at most an explicit "no SBR" extension.
std::optional<Coding> aacCoding(ByteReader esds)
{
    static constexpr int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    esds.skip(4);
    auto es = descriptor(esds, 0x03);
    if (!es)
        return std::nullopt;
    es->skip(2);
    const uint8_t flags = es->u8();
    if (flags & 0xE0)
        return std::nullopt;
    auto config = descriptor(*es, 0x04);
    if (!config || config->u8() != 0x40) // MPEG-4 audio
        return std::nullopt;
    config->skip(12);
    auto specific = descriptor(*config, 0x05);
    if (!specific)
        return std::nullopt;
    const QByteArray asc = specific->byteArray(specific->remaining());
    if (asc.size() != 2 && asc.size() != 5)
        return std::nullopt;
    const uint16_t head = uint16_t(uint8_t(asc[0]) << 8 | uint8_t(asc[1]));
    const int objectType = head >> 11, rateIndex = (head >> 7) & 15, configuration = (head >> 3) & 15;
    if (objectType != 2 || rateIndex >= 13 || configuration < 1 || configuration > 7 || (head & 7) != 0)
        return std::nullopt;
    // The sync extension 0x2B7, object type 5 (SBR), its flag off.
    if (asc.size() == 5 && (asc[2] != '\x56' || asc[3] != '\xE5' || (uint8_t(asc[4]) & 0x80) != 0))
        return std::nullopt;
    return Coding{AudioCodecKind::aac, rates[rateIndex], configuration == 7 ? 8 : configuration, 0};
}

// The ALAC cookie, which the demuxer takes the count and rate from.
std::optional<Coding> alacCoding(ByteReader box)
{
    if (box.size() != 28)
        return std::nullopt;
    box.skip(4 + 5);
    const int bits = box.u8();
    box.skip(3);
    const int channels = box.u8();
    box.skip(10);
    const uint32_t rate = box.u32be();
    if ((bits != 16 && bits != 20 && bits != 24 && bits != 32) || channels < 1 || channels > 8 || rate < 1
        || rate > uint32_t(decodelimits::maximumSampleRate))
        return std::nullopt;
    return Coding{AudioCodecKind::alac, int(rate), channels, bits};
}

std::optional<Coding> coding(ByteReader stsd)
{
    stsd.skip(4);
    if (stsd.u32be() != 1)
        return std::nullopt;
    const auto entries = children(stsd);
    if (!entries || entries->size() != 1)
        return std::nullopt;
    ByteReader entry = entries->front().body;
    const uint32_t format = entries->front().type;
    entry.skip(8);
    if (entry.u16be() != 0) // only the plain sound description
        return std::nullopt;
    entry.skip(18);
    const auto inside = children(entry);
    if (!inside)
        return std::nullopt;
    std::optional<Coding> found;
    for (const Box &box : *inside) {
        if (box.type == fourcc("btrt"))
            continue;
        if (found)
            return std::nullopt;
        if (format == fourcc("mp4a") && box.type == fourcc("esds"))
            found = aacCoding(box.body);
        else if (format == fourcc("alac") && box.type == fourcc("alac"))
            found = alacCoding(box.body);
        if (!found)
            return std::nullopt;
    }
    return found;
}

// The samples' total duration from the time table, where the sample tables agree with each
// other and every sample lies inside the file: the index a muxer writes, nothing the demuxer
// would have to cut or repair.
std::optional<uint64_t> sampleTotal(ByteReader stts, ByteReader stsc, ByteReader stsz, ByteReader stco,
                                    int64_t fileSize)
{
    stts.skip(4);
    const uint32_t runs = stts.u32be();
    if (!stts.has(uint64_t(runs) * 8))
        return std::nullopt;
    uint64_t count = 0, duration = 0;
    for (uint32_t i = 0; i < runs; ++i) {
        const uint64_t n = stts.u32be(), each = stts.u32be();
        if (each > 0x7FFFFFFF)
            return std::nullopt;
        count += n;
        duration += n * each;
        if (duration > uint64_t(toTheEnd))
            return std::nullopt;
    }

    stsz.skip(4);
    const uint32_t fixedSize = stsz.u32be(), sizes = stsz.u32be();
    if (sizes != count || (fixedSize == 0 && !stsz.has(uint64_t(sizes) * 4)) || (runs == 1 && duration == count))
        return std::nullopt; // one tick per sample is how uncompressed audio is chunked
    stco.skip(4);
    const uint32_t chunks = stco.u32be();
    if (chunks == 0 || !stco.has(uint64_t(chunks) * 4))
        return std::nullopt;
    stsc.skip(4);
    const uint32_t entries = stsc.u32be();
    if (entries == 0 || !stsc.has(uint64_t(entries) * 12))
        return std::nullopt;

    uint64_t sample = 0;
    uint32_t chunk = 1;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint32_t first = stsc.u32be(), perChunk = stsc.u32be(), entry = stsc.u32be();
        const uint32_t next = e + 1 < entries ? stsc.u32beAt(stsc.position()) : chunks + 1;
        if (first != chunk || next <= first || next > chunks + 1 || perChunk == 0 || entry != 1)
            return std::nullopt;
        for (; chunk < next; ++chunk) {
            if (sample + perChunk > sizes)
                return std::nullopt;
            uint64_t end = stco.u32beAt(8 + size_t(chunk - 1) * 4) + uint64_t(fixedSize) * perChunk;
            for (uint64_t i = sample; fixedSize == 0 && i < sample + perChunk; ++i)
                end += stsz.u32beAt(12 + size_t(i) * 4);
            sample += perChunk;
            if (end > uint64_t(fileSize))
                return std::nullopt;
        }
    }
    if (sample != sizes)
        return std::nullopt;
    return duration;
}

// Timescale and duration of an mvhd or mdhd.
std::optional<std::pair<uint32_t, uint64_t>> timing(ByteReader r)
{
    const uint8_t version = r.u8();
    if (version > 1)
        return std::nullopt;
    r.skip(3 + (version == 1 ? 16 : 8));
    const uint32_t scale = r.u32be();
    const uint64_t duration = version == 1 ? r.u64be() : r.u32be();
    if (scale == 0)
        return std::nullopt;
    return std::pair{scale, duration};
}

// One unfragmented sound track of AAC or ALAC, one edit at normal speed: the stream and its
// length as the demuxer states them (the edit's end, never past the samples' total).
std::optional<StreamDescription> describe(ByteReader moov, int64_t fileSize)
{
    const auto top = children(moov);
    if (!top)
        return std::nullopt;
    int tracks = 0;
    for (const Box &box : *top) {
        tracks += box.type == fourcc("trak");
        if (box.type == fourcc("mvex"))
            return std::nullopt;
    }
    const auto mvhd = only(*top, fourcc("mvhd"));
    const auto trak = only(*top, fourcc("trak"));
    if (tracks != 1 || !mvhd || !trak)
        return std::nullopt;
    const auto movie = timing(*mvhd);
    auto hdlr = path(*trak, {fourcc("mdia"), fourcc("hdlr")});
    const auto mdhd = path(*trak, {fourcc("mdia"), fourcc("mdhd")});
    const auto stbl = path(*trak, {fourcc("mdia"), fourcc("minf"), fourcc("stbl")});
    auto elst = path(*trak, {fourcc("edts"), fourcc("elst")});
    if (!movie || !hdlr || !mdhd || !stbl || !elst)
        return std::nullopt;
    hdlr->skip(8);
    const auto media = timing(*mdhd);
    if (hdlr->u32be() != fourcc("soun") || !media)
        return std::nullopt;
    const auto tables = children(*stbl);
    if (!tables)
        return std::nullopt;
    for (const Box &box : *tables) {
        static constexpr uint32_t known[] = {fourcc("stsd"), fourcc("stts"), fourcc("stsc"), fourcc("stsz"),
                                             fourcc("stco"), fourcc("sgpd"), fourcc("sbgp")};
        if (std::find(std::begin(known), std::end(known), box.type) == std::end(known))
            return std::nullopt; // sync samples, composition offsets, 64-bit offsets: the demuxer's to read
    }
    const auto stsd = only(*tables, fourcc("stsd"));
    const auto stts = only(*tables, fourcc("stts"));
    const auto stsc = only(*tables, fourcc("stsc"));
    const auto stsz = only(*tables, fourcc("stsz"));
    const auto stco = only(*tables, fourcc("stco"));
    if (!stsd || !stts || !stsc || !stsz || !stco)
        return std::nullopt;
    const auto stream = coding(*stsd);
    const auto samples = sampleTotal(*stts, *stsc, *stsz, *stco, fileSize);
    if (!stream || !samples)
        return std::nullopt;

    const uint8_t elstVersion = elst->u8();
    elst->skip(3);
    if (elstVersion > 1 || elst->u32be() != 1)
        return std::nullopt;
    const uint64_t segment = elstVersion == 1 ? elst->u64be() : elst->u32be();
    const int64_t mediaTime = elstVersion == 1 ? int64_t(elst->u64be()) : int64_t(elst->i32be());
    if (mediaTime < 0 || elst->u32be() != 0x00010000)
        return std::nullopt;

    // The demuxer's own figures: these two agree in every file the muxers write.
    if (media->second != *samples || *samples == 0)
        return std::nullopt;
    const auto edit = rescale(segment, media->first, movie->first);
    if (!edit)
        return std::nullopt;
    const auto frames = rescale(std::min<uint64_t>(*samples, uint64_t(*edit)), uint64_t(stream->rate), media->first);
    if (!frames || *frames <= 0)
        return std::nullopt;

    StreamDescription d;
    d.format.codec = stream->codec;
    d.format.container = QStringLiteral("mov");
    d.format.sampleRate = stream->rate;
    d.format.channels = stream->channels;
    d.format.alacSourceBitDepth = stream->alacBits;
    d.lossless = stream->codec == AudioCodecKind::alac;
    d.seekByTimestamp = true;
    d.exactLength = *frames;
    return d;
}

} // namespace mp4

std::optional<Header> readMp4(const FileHandle &file, int64_t start, int64_t fileSize)
{
    // Only the boxes read here spare the stream-information pass: whatever else the demuxer
    // reads of an MP4 it reads as the full probe does.
    Header header{"mov", std::nullopt, false};
    // Sample offsets count from the file's first byte, so a tag in front is the demuxer's to judge.
    if (start != 0)
        return header;
    int64_t at = 0;
    for (int i = 0; i < mp4::maximumBoxes && at < fileSize; ++i) {
        const QByteArray headBytes = file.preadUpTo(at, 16);
        ByteReader head(headBytes);
        if (!head.has(8))
            return header;
        uint64_t size = head.u32be();
        const uint32_t type = head.u32be();
        int64_t headerBytes = 8;
        if (size == 1) {
            size = head.u64be();
            headerBytes = 16;
        } else if (size == 0) {
            size = uint64_t(fileSize - at);
        }
        if (size < uint64_t(headerBytes) || size > uint64_t(fileSize - at))
            return header;
        if (type == mp4::fourcc("moov")) {
            if (int64_t(size) - headerBytes > mp4::maximumMoovBytes)
                return header;
            const QByteArray moov = file.preadUpTo(at + headerBytes, int64_t(size) - headerBytes);
            if (moov.size() != int64_t(size) - headerBytes)
                return header;
            try {
                header.description = mp4::describe(ByteReader(moov), fileSize);
                header.parametersInHeader = header.description.has_value();
            } catch (const MalformedData &) {
                // A box cut short inside: the demuxer judges the file.
            }
            return header;
        }
        if (type == mp4::fourcc("moof"))
            return header;
        at += int64_t(size);
    }
    return header;
}

} // namespace

std::optional<Header> read(const FileHandle &file, bool describe)
{
    try {
        const int64_t fileSize = file.size();
        const int64_t start = ffmpeg::id3v2Length(file, 0);
        const QByteArray magic = file.preadUpTo(start, 12);
        if (magic.size() < 12)
            return std::nullopt;
        const QByteArray form = magic.left(4), kind = magic.mid(8, 4);
        if ((form == "RIFF" || form == "RF64") && kind == "WAVE")
            return readWav(file, start, fileSize, form == "RF64");
        if (form == "FORM" && (kind == "AIFF" || kind == "AIFC"))
            return readAiff(file, start, fileSize, kind == "AIFC");
        if (form == "caff" && magic.mid(4, 4) == QByteArray("\x00\x01\x00\x00", 4))
            return readCaf(file, start, fileSize);
        if (form == "fLaC")
            return readFlac(file, start);
        if (form == "OggS")
            return readOgg(file, start, fileSize);
        if (magic.mid(4, 4) == "ftyp")
            return readMp4(file, start, fileSize);
        return readMp3(file, start, fileSize, describe);
    } catch (const MalformedData &) {
        return std::nullopt; // a header cut short says nothing certain
    }
}

} // namespace tampod::containerheader
