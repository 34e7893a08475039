// The frame walks of raw AAC, AC-3, E-AC-3 and MP3 over arbitrary bytes: whatever they accept
// must be a stream the reader can take, with a length that fits the bytes; the search for a
// stream's first frame after misstated tags; and the frames an MP3 timeline counts lost in packets.
#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_stream_format.h"
#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/mpeg/layer3_timeline.h"
#include "platform/decode/internal/stream_start_search.h"

#include "memory_file.h"

#include <algorithm>
#include <cstdlib>

namespace {

void check(const std::optional<tampod::codedframes::Walk> &walk, int64_t size, int samplesPerByte)
{
    if (walk
        && (walk->channels < 1 || walk->channels > 8 || walk->sampleRate < 7350 || walk->sampleRate > 96000
            || walk->samples <= 0 || walk->samples > size * samplesPerByte || walk->end <= 0 || walk->end > size))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const int64_t bytes = file.size();
    // Frames are at least 7 (ADTS), 128 (AC-3), 8 (E-AC-3) and 24 (MP3) bytes long.
    check(tampod::codedframes::adts(file, 0, bytes), bytes, 1024 / 7 + 1);
    check(tampod::codedframes::ac3(file, 0, bytes, false), bytes, 1536 / 128);
    check(tampod::codedframes::ac3(file, 0, bytes, true), bytes, 1536 / 8);
    check(tampod::codedframes::mpegLayer3(file, 0, bytes), bytes, 1152 / 24 + 1);
    // The check of a stream's last frames from a read near its end agrees with a walk from its
    // first frame: input that is wholly one chain of frames passes it.
    const tampod::codedframes::Chain chain = tampod::codedframes::layer3Chain(file, 0, bytes);
    if (chain.frames > 0 && chain.end == bytes && !tampod::codedframes::layer3FramesEndAt(file, 0, bytes, bytes))
        std::abort();
    // Any count and total against any frame header, as an Info header may state them.
    if (size >= 12) {
        const auto word = [data](size_t at) { return int64_t(uint32_t(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3]); };
        tampod::codedframes::layer3CountFits(std::span(data, size), word(4), word(8), data[1] & 1);
        // The input in three packets, on the timeline of a header with that count and total:
        // no frames lost where a packet is one whole frame, and never more than fit in the bytes.
        const int64_t frames = std::max<int64_t>(word(4), 1), total = std::max<int64_t>(word(8), 1);
        const tampod::Layer3Timeline timeline(1152, frames, total);
        tampod::Layer3Timeline::Run run;
        int64_t lost = 0;
        for (size_t at = 0, piece = size / 3 + 1; at < size; at += piece) {
            const auto packet = timeline.packet(std::span(data + at, std::min(piece, size - at)), run);
            if (packet.lost < 0 || (packet.whole && packet.lost != 0))
                std::abort();
            lost += packet.lost;
        }
        if (lost > (int64_t(size) * frames / total + 1) * 1152)
            std::abort();
    }
    // The search for a stream's first frame near where the tags before it say they end.
    const auto start = tampod::streamstart::nearest(file, bytes / 2, 0, tampod::codedframes::layer3FramesAt);
    if (start && (*start < 0 || *start >= bytes))
        std::abort();
    return 0;
}
