#include "export/internal/pcm_output_file.h"

#include "platform/encode/audio_file_writer.h"
#include "platform/encode/raw_pcm_writer.h"
#include "platform/encode/wav_integer_writer.h"

namespace tampod {

struct PCMOutputFile::Writer {
    std::unique_ptr<AudioFileWriter> file;
    std::unique_ptr<WavIntegerWriter> integers;
    std::unique_ptr<RawPCMWriter> raw; // an SD2 data fork
};

bool PCMOutputFile::takesIntegers(const PCMOutputFormat &format)
{
    return !format.floatIntermediate && (format.container == ExportFormat::wav || format.container == ExportFormat::sd2);
}

PCMOutputFile::PCMOutputFile(const QString &path, const PCMOutputFormat &format, const CancellationToken &token,
                             bool integers)
    : writer_(std::make_unique<Writer>())
{
    if (!format.floatIntermediate && format.container == ExportFormat::sd2) {
        writer_->raw = std::make_unique<RawPCMWriter>(path, format.channels, format.bits, token);
        return;
    }
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
    if (writer_->raw)
        writer_->raw->writeInterleaved(interleaved, frames);
    else
        writer_->file->writeInterleaved(interleaved, frames);
}

void PCMOutputFile::writeIntegers(const std::int32_t *interleaved, std::int64_t frames)
{
    if (writer_->raw)
        writer_->raw->writeInt32Interleaved(interleaved, frames);
    else
        writer_->integers->writeInt32Interleaved(interleaved, frames);
}

void PCMOutputFile::finish()
{
    if (writer_->raw)
        writer_->raw->finish();
    else if (writer_->integers)
        writer_->integers->finish();
    else
        writer_->file->finish();
}

} // namespace tampod
