#include "platform/decode/internal/mpeg/raw_stream_end.h"

#include "platform/decode/internal/mpeg/coded_frame_walk.h"
#include "platform/decode/internal/mpeg/mpeg_audio_info.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"

#include <cstring>
#include <optional>

namespace tampod::rawstream {

bool isRaw(const char *demuxer)
{
    for (const char *raw : {"mp3", "aac", "ac3", "eac3"})
        if (std::strcmp(demuxer, raw) == 0)
            return true;
    return false;
}

End audioEnd(const FileHandle &file, const char *demuxer, int64_t start, int64_t fileSize)
{
    std::optional<codedframes::Walk> walk;
    if (std::strcmp(demuxer, "mp3") == 0) {
        if (const auto trimmed = mpegaudio::trimmed(file, start, fileSize))
            return {trimmed->end, std::nullopt, trimmed};
        walk = codedframes::mpegLayer3(file, start, fileSize);
    } else if (std::strcmp(demuxer, "aac") == 0) {
        walk = codedframes::adts(file, start, fileSize);
    } else if (std::strcmp(demuxer, "ac3") == 0 || std::strcmp(demuxer, "eac3") == 0) {
        walk = codedframes::ac3(file, start, fileSize, std::strcmp(demuxer, "eac3") == 0);
    }
    if (walk)
        return {walk->end, walk, std::nullopt};
    return {trailingtags::audioEnd(file, start, fileSize), std::nullopt, std::nullopt};
}

} // namespace tampod::rawstream
