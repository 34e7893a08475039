#include "import/native_audio.h"

#include "core/error.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"

#include <cmath>

namespace tampod {

NativeAudio NativeAudio::open(const QString &path, const CancellationToken &token)
{
    AudioFileReader reader(path, token, AudioFileReader::Use::glance);
    NativeAudio audio;
    audio.format = reader.fileFormat();
    audio.demuxerTags = reader.demuxerTags();
    try {
        const std::int64_t length = reader.length();
        std::vector<float> first(std::size_t(std::max(reader.channels(), 1)));
        const bool started = reader.readFloatInterleaved(first.data(), 1) == 1;
        audio.duration = double(length) / reader.fileSampleRate();
        audio.playable = started && length > 0 && std::isfinite(audio.duration) && audio.duration > 0;
    } catch (const Cancelled &) {
        throw;
    } catch (const AudioFileError &error) {
        // A read the system failed says nothing of whether the audio plays: the file could not
        // be read.
        if (error.kind() == AudioFileError::Kind::io)
            throw;
    } catch (const std::exception &) {
        // Opened, but it does not play.
    }
    return audio;
}

} // namespace tampod
