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
};

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
        return info;
    } catch (const Error &) {
        return std::nullopt;
    }
}

// The header's count, where the frames bear it out: walked from the header's own frame, each
// where the one before ends, they end exactly where its byte count says, they are as many as it
// counts, and no other stream follows. A file cut short (then padded or tagged), a count written
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
    const codedframes::Chain chain = codedframes::layer3Chain(file, firstFrameOffset, fileSize);
    if (chain.end != end || chain.frames != info.frames + 1 || codedframes::layer3FramesFrom(file, end, fileSize))
        return std::nullopt;
    return Trimmed{length, end};
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
