#include "export/internal/pcm_output_file.h"

#include "platform/encode/audio_file_writer.h"

namespace tampod {

PCMOutputFormat PCMOutputFormat::integer(ExportFormat format, int sampleRate, int channels, int bits)
{
    const ExportFormat container = format == ExportFormat::wav || format == ExportFormat::sd2 ? format
                                                                                              : ExportFormat::aiff;
    return {container, sampleRate, channels, bits, false};
}

PCMOutputFormat PCMOutputFormat::intermediate(int sampleRate, int channels)
{
    return {ExportFormat::wav, sampleRate, channels, 32, true};
}

struct PCMOutputFile::Writer {
    std::unique_ptr<AudioFileWriter> file;
};

PCMOutputFile::PCMOutputFile(const QString &path, const PCMOutputFormat &format, const CancellationToken &token)
    : writer_(std::make_unique<Writer>())
{
    AudioWriteFormat written;
    written.sampleRate = format.sampleRate;
    written.channels = format.channels;
    written.bitsPerChannel = format.bits;
    written.isFloat = format.floatIntermediate;
    written.type = format.floatIntermediate ? AudioFileType::caf
                   : format.container == ExportFormat::wav ? AudioFileType::wav
                                                            : AudioFileType::aiff;
    writer_->file = std::make_unique<AudioFileWriter>(path, written, token);
}

PCMOutputFile::~PCMOutputFile() = default;

void PCMOutputFile::write(const float *interleaved, std::int64_t frames)
{
    writer_->file->writeInterleaved(interleaved, frames);
}

void PCMOutputFile::finish()
{
    writer_->file->finish();
}

} // namespace tampod
