#include "platform/decode/audio_file_probe.h"

#include "core/file_handle.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"

namespace tampod {

std::optional<AudioFileProbe::Result> AudioFileProbe::probe(const QString &path)
{
    try {
        // A FIFO or device is refused without waiting on it.
        const FileHandle file = FileHandle::openOutside(path);
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
