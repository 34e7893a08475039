#include "export/pcm_output_format.h"

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

} // namespace tampod
