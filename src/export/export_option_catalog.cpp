#include "export/export_option_catalog.h"

#include "export/export_defaults.h"

namespace tampod::ExportOptionCatalog {

using F = ExportFormat;

std::vector<SampleEncoding> sampleEncodings(ExportFormat format)
{
    if (format == F::au) {
        const auto all = RawValue::allCases<SampleEncoding>();
        return {all.begin(), all.end()};
    }
    return {SampleEncoding::integer};
}

std::vector<BitRateMode> rateModes(ExportFormat format)
{
    using M = BitRateMode;
    switch (format) {
    case F::mp3:
    case F::oggVorbis:
    case F::wma:
        return {M::constant, M::average, M::variable};
    case F::m4aAAC:
    case F::ac3:
        return {M::constant};
    case F::aac:
        return {M::constant, M::average, M::constrained, M::variable};
    default:
        return {};
    }
}

bool hasRateControl(ExportFormat format, const EncodingOptions &options)
{
    return !rateModes(format).empty() && !(format == F::wma && options.wmaProfile == WMAProfile::lossless);
}

QString rateModeTitle(ExportFormat format, BitRateMode mode)
{
    if (format == F::m4aAAC && mode == BitRateMode::constant)
        return RawValue::text(BitRateMode::average);
    return RawValue::text(mode);
}

bool usesBitDepth(ExportFormat format, const EncodingOptions &options)
{
    switch (format) {
    case F::wav:
    case F::aiff:
    case F::sd2:
    case F::m4aALAC:
    case F::flac:
    case F::ape:
    case F::au:
    case F::bwf:
        return options.sampleEncoding == SampleEncoding::integer;
    case F::wma:
        return options.wmaProfile == WMAProfile::lossless;
    case F::mp3:
    case F::m4aAAC:
    case F::aac:
    case F::oggVorbis:
    case F::ac3:
        return false;
    }
    return false;
}

std::vector<std::int64_t> sampleRates(ExportFormat format, const EncodingOptions &options)
{
    switch (format) {
    case F::mp3:
    case F::ac3:
        return {32000, 44100, 48000};
    case F::m4aAAC:
        return {44100, 48000};
    case F::aac:
        switch (options.aacProfile) {
        case AACProfile::lc:
            return {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
        case AACProfile::he:
            return {16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
        case AACProfile::heV2:
            return {32000, 44100, 48000};
        }
        return {};
    default:
        return ExportDefaults::sampleRates();
    }
}

std::vector<std::int64_t> bitRates(ExportFormat format, const EncodingOptions &options, std::int64_t sampleRate)
{
    switch (format) {
    case F::mp3:
        if (options.rateMode == BitRateMode::constant)
            return {64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    case F::m4aAAC:
        return {64, 96, 128, 192, 256};
    case F::aac:
        switch (options.aacProfile) {
        case AACProfile::lc:
            return {32, 40, 48, 56, 64, 72, 80, 96, 112, 128, 144, 160, 192, 224, 256, 288, 320};
        case AACProfile::he:
            if (sampleRate <= 48000)
                return {16, 20, 24, 28, 32, 40, 48, 56, 64, 80};
            return {64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        case AACProfile::heV2:
            return {20, 24, 28, 32, 40, 48};
        }
        return {};
    case F::ac3:
        return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    default:
        return {32, 48, 64, 80, 96, 128, 160, 192, 224, 256, 320, 384, 448, 500};
    }
}

QString advancedNotes(ExportFormat format)
{
    switch (format) {
    case F::wav:
        return QStringLiteral("8-bit WAV uses unsigned integer PCM. Floating point, companded audio, 32-bit "
                              "integer, ADPCM and RF64/BW64 output are not supported. Lo-fi treatment "
                              "deliberately uses no dither.");
    case F::aiff:
        return QStringLiteral("AIFF stores integer PCM. Floating point and compressed AIFF-C output are not "
                              "supported. Markers and loop metadata are not copied; no dither control is offered.");
    case F::sd2:
        return QStringLiteral("Keep the resource fork when copying or archiving SD2 files. Use a Mac-aware ZIP "
                              "workflow for sharing. Legacy application compatibility depends on the receiving "
                              "app; WAV/AIFF are safer interchange choices. Recovery exports record the chosen "
                              "interpretation, not proof of the original format.");
    case F::mp3:
        return QStringLiteral("Saved MP3 encoding preferences are retained for compatibility but cannot be used "
                              "for output. Selecting another format does not change MP3 playback or the original "
                              "file.");
    case F::m4aAAC:
        return QStringLiteral("AAC is lossy and has no file PCM bit depth. Effects are applied before encoding. "
                              "Use WAV/AIFF/FLAC for lossless editing and precise reusable samples. HE profiles, "
                              "VBR and raw ADTS export are not implemented.");
    case F::m4aALAC:
        return QStringLiteral("Apple Lossless has no user bitrate or lossy quality target. Compression is "
                              "encoder-managed. Additional 20/32-bit output and channel layouts remain "
                              "qualification work.");
    case F::aac:
        return QStringLiteral("Raw ADTS export is not implemented. Choose M4A — AAC for tagged AAC output.");
    case F::flac:
        return QStringLiteral("Compression is managed by the native encoder; numeric libFLAC presets are not "
                              "applied. Existing nondefault numeric preferences remain visible and must be "
                              "changed explicitly to Automatic. Artwork and markers are not copied.");
    case F::ape:
        return QStringLiteral("Compression presets trade speed for size without changing decoded samples. "
                              "Verification, tagging and supported sample types require a selected and licensed "
                              "encoder.");
    case F::oggVorbis:
        return QStringLiteral("OGG is the container; this choice uses Vorbis. VBR quality runs from −1 to 10, "
                              "higher is better. Managed minimum/maximum bitrates, channel mapping, comments and "
                              "pictures await an encoder. Opus is a separate codec, not a Vorbis setting.");
    case F::wma:
        return QStringLiteral("Standard, Professional and Lossless have different format limits. VBR quality "
                              "runs from 0 to 100. One/two-pass modes, peak bitrate, buffer limits, ASF metadata "
                              "and profile-specific channels await an encoder.");
    case F::au:
        return QStringLiteral("AU supports integer/float PCM and μ-law/A-law. Companding stores 8-bit codes, not "
                              "the PCM depth preference. Annotation and additional integer/float widths await "
                              "qualification.");
    case F::bwf:
        return QStringLiteral("Per-export broadcast fields must include description, originator/reference, "
                              "date/time, time reference, UMID and coding history as applicable. Version-2 "
                              "loudness fields must be valid measurements or marked unknown. Never invent them.");
    case F::ac3:
        return QStringLiteral("AC3 uses 32/44.1/48 kHz. Dialnorm is dialogue-level metadata (−31…−1 dB), not a "
                              "volume knob. The value must describe the source. DRC profiles, channel/LFE mode, "
                              "downmix, surround flags, filters and bitstream metadata await a qualified "
                              "encoder.");
    }
    return QString();
}

} // namespace tampod::ExportOptionCatalog
