#include "platform/decode/pcm_file_description.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"

#include <sndfile.h>

namespace tampod {

PCMFileDescription PCMFileDescription::read(const QString &path)
{
    FileHandle file = FileHandle::openOutside(path);
    SF_INFO info{};
    // libsndfile closes the descriptor it was given, also when opening fails.
    SNDFILE *sound = sf_open_fd(file.release(), SFM_READ, &info, SF_TRUE);
    if (!sound) {
        const int status = sf_error(nullptr);
        throw AudioFileError(AudioFileError::Kind::notAudio, status, QStringLiteral("Opening the audio file"),
                             QString::fromUtf8(sf_error_number(status)));
    }
    sf_close(sound);
    PCMFileDescription description;
    description.frames = info.frames;
    description.sampleRate = info.samplerate;
    description.channels = info.channels;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: description.bitsPerSample = 8; break;
    case SF_FORMAT_PCM_16: description.bitsPerSample = 16; break;
    case SF_FORMAT_PCM_24: description.bitsPerSample = 24; break;
    case SF_FORMAT_PCM_32: description.bitsPerSample = 32; break;
    default: break;
    }
    return description;
}

} // namespace tampod
