#include "import/audio_source_format_reader.h"

#include "platform/decode/audio_file_reader.h"
#include "tags/flac_tempo_metadata.h"

#include <QFileInfo>

namespace tampod::AudioSourceFormatReader {

AudioSourceFormat read(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    // FLAC states its rate and depth in the first 42 bytes; no decoder needed.
    if (QFileInfo(path).suffix().toLower() == QLatin1String("flac")) {
        if (const auto stream = FLACTempoMetadata::sourceFormat(path))
            return {double(stream->sampleRate), AudioSourceFormat::Resolution::integer(stream->bitsPerSample), false};
    }
    try {
        const AudioFileReader reader(path);
        return AudioSourceFormat::fromFileFormat(reader.fileFormat());
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace tampod::AudioSourceFormatReader
