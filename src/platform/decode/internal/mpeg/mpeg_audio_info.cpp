#include "platform/decode/internal/mpeg/mpeg_audio_info.h"

#include "core/byte_reader.h"
#include "core/error.h"
#include "core/file_handle.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"

namespace tampod::mpegaudio {

namespace {

struct InfoHeader {
    int sampleRate = 0;
    int channels = 0;
    int64_t samplesPerFrame = 0;
    uint32_t flags = 0;
    int64_t frames = 0;
    std::optional<int64_t> bytes;
    bool encoderTagged = false; // a LAME-style tag with delay and padding follows
    int64_t delay = 0;
    int64_t padding = 0;
    bool constantRate = false; // "Info": every frame at one bit rate
    bool intact = false;       // the tag's CRC holds: the header stands as its encoder wrote it
    int64_t frameBytes = 0;    // the Info frame's own
};

// CRC-16 with polynomial 0x8005, least significant bit first, initial value 0: the LAME tag's.
uint16_t tagCrc(const uint8_t *data, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// Whether the tag's CRC, at crcAt in head (the frame's first bytes), holds: over the bytes
// before it, or (as one encoder writes it whatever the frame's layout) over the frame's first
// 190 bytes with the CRC's own place as zeros.
bool tagCrcHolds(const QByteArray &head, size_t crcAt)
{
    const ByteReader r(head);
    if (crcAt + 2 > size_t(head.size()))
        return false;
    const uint16_t stated = r.u16beAt(crcAt);
    const auto *bytes = reinterpret_cast<const uint8_t *>(head.constData());
    if (tagCrc(bytes, crcAt) == stated)
        return true;
    constexpr size_t covered = 190;
    if (crcAt + 2 > covered || size_t(head.size()) < covered)
        return false;
    QByteArray zeroed = head.left(covered);
    zeroed[qsizetype(crcAt)] = zeroed[qsizetype(crcAt + 1)] = '\0';
    return tagCrc(reinterpret_cast<const uint8_t *>(zeroed.constData()), covered) == stated;
}

std::optional<InfoHeader> readInfoHeader(const FileHandle &file, int64_t offset)
{
    try {
        const QByteArray head = file.preadUpTo(offset, 512);
        ByteReader r(head);
        const uint32_t header = r.u32be();
        if ((header & 0xFFE00000u) != 0xFFE00000u)
            return std::nullopt;
        const int version = int(header >> 19) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const int layer = int(header >> 17) & 3;   // 1: Layer III
        if (version == 1 || layer != 1)
            return std::nullopt;
        const bool mono = ((header >> 6) & 3) == 3;
        const bool mpeg1 = version == 3;
        const int rateIndex = int(header >> 10) & 3;
        if (rateIndex == 3)
            return std::nullopt;
        const size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);

        InfoHeader info;
        info.samplesPerFrame = mpeg1 ? 1152 : 576;
        static constexpr int mpeg1Rates[] = {44100, 48000, 32000};
        info.sampleRate = mpeg1Rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        info.channels = mono ? 1 : 2;
        r.seek(4 + sideInfo);
        const QByteArray tag = r.byteArray(4);
        if (tag != "Xing" && tag != "Info")
            return std::nullopt;
        info.constantRate = tag == "Info";
        info.frameBytes = codedframes::layer3FrameBytes(
                              std::span(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size())))
                              .value_or(0);
        info.flags = r.u32be();
        if (info.flags & 1)
            info.frames = r.u32be();
        if (info.flags & 2)
            info.bytes = r.u32be();
        if (info.flags & 4)
            r.skip(100);
        if (info.flags & 8)
            r.skip(4);
        if (!r.has(24))
            return info;
        const QByteArray encoder = r.byteArray(9).left(4);
        info.encoderTagged = encoder == "LAME" || encoder == "Lavf" || encoder == "Lavc";
        r.skip(12);
        const uint32_t delays = r.u24be();
        info.delay = delays >> 12;
        info.padding = delays & 0xFFF;
        // Then other fields, the music's length and CRC, and the tag's own CRC.
        info.intact = info.encoderTagged && tagCrcHolds(head, r.position() + 10);
        return info;
    } catch (const MalformedData &) {
        // A header cut short is no header; a read the system fails is the caller's failure.
        return std::nullopt;
    }
}

// Streams shorter than this are walked whole; past it, the frames at the end are read.
constexpr int64_t tailBytes = 16 << 10;

// Whether the frames bear the header's counts out as far as a read near the end tells: the
// header stands as its encoder wrote it, its frame count is in keeping with its byte count at
// the frames' bit rates, and the last frames end exactly where its byte count says. A file cut
// short (then padded or tagged) or damaged at its end, or a header rewritten by another tool,
// fails it.
bool agreesAtItsEnd(const InfoHeader &info, const FileHandle &file, int64_t firstFrameOffset, int64_t end)
{
    if (!info.intact || info.frameBytes <= 0 || end - firstFrameOffset - info.frameBytes <= tailBytes)
        return false;
    const QByteArray firstAudio = file.preadUpTo(firstFrameOffset + info.frameBytes, 4);
    const auto header = std::span(reinterpret_cast<const uint8_t *>(firstAudio.constData()), size_t(firstAudio.size()));
    return codedframes::layer3CountFits(header, info.frames, end - firstFrameOffset - info.frameBytes, info.constantRate)
           && codedframes::layer3FramesEndAt(file, firstFrameOffset, end, tailBytes);
}

// The header's count, where the frames bear it out and no other stream follows. Where the
// header agrees with the file at its end, that holds; else every frame is walked from the
// header's own, each where the one before ends, and they must end exactly where its byte count
// says and be as many as it counts. A file cut short (then padded or tagged), a count written
// wrong, or files joined end to end (where the first one's header counts its own frames only)
// are counted by a decode.
std::optional<Trimmed> trimmedStream(const InfoHeader &info, const FileHandle &file, int64_t firstFrameOffset,
                                     int64_t fileSize)
{
    if (!(info.flags & 1) || !info.encoderTagged || !info.bytes || *info.bytes > fileSize - firstFrameOffset)
        return std::nullopt;
    const int64_t length = info.frames * info.samplesPerFrame - info.delay - info.padding;
    const int64_t end = firstFrameOffset + *info.bytes;
    if (length < 0)
        return std::nullopt;
    if (!agreesAtItsEnd(info, file, firstFrameOffset, end)) {
        const codedframes::Chain chain = codedframes::layer3Chain(file, firstFrameOffset, fileSize);
        if (chain.end != end || chain.frames != info.frames + 1)
            return std::nullopt;
    }
    if (codedframes::layer3FramesFrom(file, end, fileSize))
        return std::nullopt;
    return Trimmed{length, end, info.samplesPerFrame, info.frames, *info.bytes - info.frameBytes};
}

} // namespace

bool hasInfoHeader(const FileHandle &file, int64_t offset)
{
    return readInfoHeader(file, offset).has_value();
}

std::optional<Trimmed> trimmed(const FileHandle &file, int64_t firstFrameOffset, int64_t fileSize)
{
    const std::optional<InfoHeader> info = readInfoHeader(file, firstFrameOffset);
    return info ? trimmedStream(*info, file, firstFrameOffset, fileSize) : std::nullopt;
}

std::optional<TaggedStream> taggedStream(const FileHandle &file, int64_t firstFrameOffset)
{
    const std::optional<InfoHeader> info = readInfoHeader(file, firstFrameOffset);
    if (!info || !info->encoderTagged)
        return std::nullopt;
    return TaggedStream{info->sampleRate, info->channels};
}

} // namespace tampod::mpegaudio
