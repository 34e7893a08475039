#include "platform/decode/audio_file_probe.h"

#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg_probe.h"

#include <fcntl.h>

namespace tampod {

std::optional<AudioFileProbe::Result> AudioFileProbe::probe(const QString &path)
{
    try {
        FileHandle file = FileHandle::open(path, O_RDONLY);
        int score = 0;
        const AVInputFormat *format = ffmpeg::probeInputFormat(file, &score);
        if (!format)
            return std::nullopt;
        return Result{ffmpeg::shortName(format), score};
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

} // namespace tampod
