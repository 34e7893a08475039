#include "platform/decode/internal/container_header.h"

#include "core/byte_reader.h"
#include "core/error.h"
#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg_probe.h"
#include "platform/decode/internal/mpeg_audio_info.h"

#include <algorithm>
#include <cstring>
#include <limits>

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
    if (!wholeBytes(pcm.bits, pcm.isFloat) || pcm.channels < 1 || pcm.channels > ffmpeg::maximumChannels
        || pcm.rate < 1 || pcm.rate > ffmpeg::maximumSampleRate || pcm.dataStart > fileSize)
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

// Packed S/PDIF bursts in 16-bit WAV data make FFmpeg decode AC-3 or DTS instead of PCM.
bool mayHoldBursts(const FileHandle &file, int64_t dataStart)
{
    static const char sync[] = {'\x72', '\xF8', '\x1F', '\x4E'};
    const QByteArray data = file.preadUpTo(dataStart, 1 << 20);
    return std::search(data.begin(), data.end(), std::begin(sync), std::end(sync)) != data.end();
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
            if (coding != "lpcm" || framesPerPacket != 1 || !(rate >= 1 && rate <= ffmpeg::maximumSampleRate)
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
    d.exactLength = samples;
    header.description = d;
    header.parametersInHeader = true;
    return header;
}

std::optional<Header> readMp3(const FileHandle &file, int64_t start, int64_t fileSize)
{
    const auto stream = mpegaudio::taggedStream(file, start, fileSize);
    if (!stream)
        return std::nullopt;
    Header header{"mp3", std::nullopt, false};
    if (!stream->exactLength)
        return header; // only a decode knows the length
    StreamDescription d;
    d.format.codec = AudioCodecKind::mpegLayer3;
    d.format.container = QStringLiteral("mp3");
    d.format.sampleRate = stream->sampleRate;
    d.format.channels = stream->channels;
    d.seekByTimestamp = true;
    d.exactLength = stream->exactLength;
    header.description = d;
    header.parametersInHeader = true;
    return header;
}

} // namespace

std::optional<Header> read(const FileHandle &file)
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
        if (magic.mid(4, 4) == "ftyp")
            return Header{"mov", std::nullopt, true};
        return readMp3(file, start, fileSize);
    } catch (const MalformedData &) {
        return std::nullopt; // a header cut short says nothing certain
    }
}

} // namespace tampod::containerheader
