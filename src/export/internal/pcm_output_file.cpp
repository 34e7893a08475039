#include "export/internal/pcm_output_file.h"

#include "platform/encode/audio_file_writer.h"
#include "platform/encode/wav_integer_writer.h"

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
    std::unique_ptr<WavIntegerWriter> integers;
};

bool PCMOutputFile::takesIntegers(const PCMOutputFormat &format)
{
    return !format.floatIntermediate && format.container == ExportFormat::wav;
}

PCMOutputFile::PCMOutputFile(const QString &path, const PCMOutputFormat &format, const CancellationToken &token,
                             bool integers)
    : writer_(std::make_unique<Writer>())
{
    if (integers && takesIntegers(format)) {
        writer_->integers = std::make_unique<WavIntegerWriter>(path, format.sampleRate, format.channels, format.bits, token);
        return;
    }
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

void PCMOutputFile::writeIntegers(const std::int32_t *interleaved, std::int64_t frames)
{
    writer_->integers->writeInt32Interleaved(interleaved, frames);
}

void PCMOutputFile::finish()
{
    if (writer_->integers)
        writer_->integers->finish();
    else
        writer_->file->finish();
}

} // namespace tampod
