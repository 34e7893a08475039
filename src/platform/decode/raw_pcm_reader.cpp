#include "platform/decode/raw_pcm_reader.h"

#include "platform/decode/audio_file_reader.h"

namespace tampod::RawPCMReader {

Description read(const QString &path, int sampleRate, int channels, int bits, const CancellationToken &token)
{
    AudioFileReader reader(path, AudioFileReader::RawPCMFormat{sampleRate, channels, bits}, token);
    Description description;
    description.frames = reader.length(); // the raw demuxers only estimate: a decode pass counts
    description.sampleRate = int(reader.fileSampleRate());
    description.channels = reader.channels();
    description.bitsPerSample = reader.fileFormat().bitsPerChannel;
    return description;
}

} // namespace tampod::RawPCMReader
