#include "export/engine/compressed_audio_exporter.h"

#include "export/engine/short_flac_writer.h"
#include "export/internal/export_staging.h"
#include "core/file_handle.h"
#include "files/access/file_access_lease.h"
#include "files/journal/audio_export_error.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/flac_file_check.h"
#include "concurrency/thread_start.h"
#include "platform/encode/audio_file_writer.h"
#include "platform/encode/flac_file_encoder.h"
#include "platform/encode/source_read_error.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/tempo_model.h"
#include "tags/tempo_write_error.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace tampod::CompressedAudioExporter {

namespace {

using Case = AudioExportError::Case;

constexpr std::int64_t chunkFrames = 8192;
// The shortest span the verifying decode runs on a thread of its own.
constexpr std::int64_t smallestSpan = 1 << 18;

const QString bitRateRefused = QStringLiteral("The native AAC encoder cannot use this bitrate with the selected "
                                              "rate/channels. Choose another bitrate; no setting was changed.");

// Reports 0.55 + 0.35 × fraction at most once per whole percent of the fraction.
// FLAC takes its tempo's comment block while it is written.
void encode(const QString &source, const QString &destination, const ExportDefaults &settings,
            const QByteArray &comments, const ExportProgress &progress, const CancellationToken &token)
{
    if (settings.format == ExportFormat::flac) {
        ExportFailure::step(QStringLiteral("encoding audio"), [&] {
            try {
                FlacFileEncoder::encode(source, destination, int(settings.bitDepth), [&](double fraction) {
                    if (progress)
                        progress(0.55 + 0.35 * fraction);
                }, token, comments);
            } catch (const SourceReadError &error) {
                // The encoder reads the source itself: its failed read is the decode's.
                throw AudioExportError::native(QStringLiteral("decoding source"), error.code());
            }
        });
        return;
    }
    AudioFileReader reader(source, token);
    const std::int64_t length = reader.length();
    const int channels = reader.channels();

    AudioWriteFormat format;
    format.type = settings.format == ExportFormat::flac ? AudioFileType::flac : AudioFileType::m4a;
    format.sampleRate = int(settings.sampleRate);
    format.channels = channels;
    format.bitsPerChannel = settings.bitDepth == 16 ? 16 : 24;
    format.bitRate = int(settings.options().bitRateKbps * 1000);
    std::optional<AudioFileWriter> writer;
    ExportFailure::step(QStringLiteral("creating encoded file"), [&] { writer.emplace(destination, format, token); });
    // FFmpeg's encoder may settle on another rate than asked; only the asked one is acceptable.
    if (format.type == AudioFileType::m4a && writer->bitRate() != format.bitRate)
        throw AudioExportError::invalidSettings(bitRateRefused);

    std::vector<float> buffer(size_t(chunkFrames * channels));
    std::int64_t written = 0;
    int reportedPercent = -1;
    while (written < length) {
        token.throwIfCancelled();
        std::int64_t n = 0;
        ExportFailure::step(QStringLiteral("decoding source"), [&] {
            n = reader.readFloatInterleaved(buffer.data(), std::min(chunkFrames, length - written));
        });
        if (n == 0)
            throw AudioExportError(Case::verificationFailed);
        ExportFailure::step(QStringLiteral("encoding audio"), [&] { writer->writeInterleaved(buffer.data(), n); });
        written += n;
        const double fraction = double(written) / double(length);
        if (int(fraction * 100) != reportedPercent) {
            reportedPercent = int(fraction * 100);
            if (progress)
                progress(0.55 + 0.35 * fraction);
        }
    }
    ExportFailure::step(QStringLiteral("finalizing encoded audio"), [&] { writer->finish(); });
    token.throwIfCancelled();
}

template <typename Work>
void tagging(Work work)
{
    try {
        work();
    } catch (const TempoWriteError &error) {
        throw AudioExportError(error.reason() == TempoWriteError::Reason::storage ? Case::storage
                                                                                  : Case::tempoMetadata);
    }
}

// Reading the staged file back: a read the system fails there fails the check as a step of the
// audio layer, in the export's sentence, never in the system's own words.
template <typename Work>
void readingBack(Work work)
{
    try {
        work();
    } catch (const AudioFileError &error) {
        throw AudioExportError::native(QStringLiteral("verifying output"), error.code());
    } catch (const SystemError &error) {
        throw AudioExportError::native(QStringLiteral("verifying output"), -error.errnoValue());
    }
}

// A FLAC file the encoder tagged already (tagged is encoded) is only read back.
void tag(const std::optional<double> &bpm, bool flac, const QString &encoded, const QString &tagged)
{
    tagging([&] {
        if (flac && encoded != tagged)
            FLACTempoMetadata::copyTagging(bpm, encoded, tagged);
        else if (!flac)
            M4ATempoMetadata::write(bpm, encoded);
    });
    if (bpm && TempoModel::isUsable(*bpm)) {
        std::optional<double> read;
        readingBack([&] { read = flac ? FLACTempoMetadata::read(tagged) : M4ATempoMetadata::read(tagged); });
        if (read != bpm)
            throw AudioExportError(Case::tempoMetadata);
    }
}

// Decodes every frame of the file, in spans on up to threads threads: each span must deliver
// exactly its frames, and the last one must end where the file does. The first span reads
// with the reader already open, as opening one costs about as much as decoding a short file.
void decodeCompletely(AudioFileReader &opened, const QString &path, std::int64_t length, int channels,
                      unsigned threads, const CancellationToken &token)
{
    const std::int64_t spans = std::clamp<std::int64_t>(length / smallestSpan, 1,
                                                        std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, threads));
    std::vector<std::exception_ptr> errors(static_cast<size_t>(spans));
    const auto decode = [&](std::int64_t span) {
        try {
            const std::int64_t start = length * span / spans;
            const std::int64_t end = length * (span + 1) / spans;
            std::optional<AudioFileReader> own;
            if (span > 0)
                own.emplace(path, token);
            AudioFileReader &reader = span > 0 ? *own : opened;
            reader.seek(start);
            std::vector<float> buffer(size_t(chunkFrames * channels));
            for (std::int64_t at = start; at < end;) {
                token.throwIfCancelled();
                const std::int64_t n = reader.readFloatInterleaved(buffer.data(), std::min(chunkFrames, end - at));
                if (n == 0)
                    throw AudioExportError(Case::verificationFailed);
                at += n;
            }
            if (span == spans - 1 && reader.readFloatInterleaved(buffer.data(), chunkFrames) != 0)
                throw AudioExportError(Case::verificationFailed);
        } catch (...) {
            errors[size_t(span)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        for (std::int64_t span = 1; span < spans; ++span)
            threads.push_back(startThread([&decode, span] { decode(span); }));
        decode(0);
    }
    for (const std::exception_ptr &error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
}

} // namespace

void verify(const QString &path, const ExportDefaults &settings, const AudioExportResult &render,
            const CancellationToken &token)
{
    // FLAC too short to decode in spans is read back by libFLAC alone, which checks every
    // frame's CRC and numbering on the way; FFmpeg's reader would cost more to set up than
    // the decode itself.
    if (settings.format == ExportFormat::flac && render.frames < 2 * smallestSpan) {
        const auto stream = FlacFileCheck::decodeAll(path, token);
        if (!stream || stream->frames != render.frames || stream->sampleRate != render.sampleRate ||
            stream->channels != int(render.channels) || stream->bitsPerSample != settings.bitDepth)
            throw AudioExportError(Case::verificationFailed);
        return;
    }
    AudioFileReader reader(path, token);
    const std::int64_t length = reader.length();
    const AudioFileFormat &format = reader.fileFormat();
    bool passes = length == render.frames && format.sampleRate == double(render.sampleRate) &&
                  format.channels == int(render.channels);
    if (settings.format == ExportFormat::flac) {
        const auto streamInfo = FLACTempoMetadata::sourceFormat(path);
        passes = passes && format.codec == AudioCodecKind::flac && streamInfo &&
                 streamInfo->bitsPerSample == settings.bitDepth;
    } else {
        passes = passes && format.codec == AudioCodecKind::aac;
    }
    if (!passes)
        throw AudioExportError(Case::verificationFailed);

    // FLAC decodes in parallel cheaply; an AAC reader holds the whole sample index, so one.
    decodeCompletely(reader, path, length, format.channels, settings.format == ExportFormat::flac ? 4 : 1, token);
}

ExportDefaults renderSettings(const ExportDefaults &settings)
{
    ExportDefaults render = settings;
    render.format = ExportFormat::wav;
    if (settings.format == ExportFormat::m4aAAC)
        render.bitDepth = 24;
    EncodingOptions options = EncodingOptions::initial(ExportFormat::wav);
    options.channels = settings.options().channels;
    render.encodingByFormat[ExportFormats::rawValue(ExportFormat::wav)] = options;
    return render;
}

AudioExportResult run(const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token,
                      const ExportEnvironment &environment)
{
    request.checkIssues();
    token.throwIfCancelled();
    const FileAccessLease lease(request.destination);
    AudioFileExporter::checkDestination(request);
    AudioExportRequest renderRequest;
    renderRequest.track = request.track;
    renderRequest.settings = renderSettings(request.settings);
    renderRequest.loop = request.loop;
    renderRequest.pairOutput = SD2PairOutput::stereo;
    // Sources the render would refuse, and renders past the size limit, are refused before
    // anything is made beside the destination.
    const auto verbatim = AudioFileExporter::preflight(renderRequest, token);
    const bool flac = request.settings.format == ExportFormat::flac;

    ExportStaging staging(environment.store, request.destination, environment.insideStaging,
                          request.sharedStaging.get());
    AudioExportResult render;
    QString renderPath;
    // A render that would only copy the source's samples is a second pass for nothing: the
    // encoder reads the source itself (FLAC's only at the source's own depth).
    if (verbatim && (!flac || verbatim->bits == request.settings.bitDepth)) {
        renderPath = verbatim->path;
        render = {QUrl::fromLocalFile(renderPath), verbatim->frames, std::uint32_t(verbatim->channels),
                  request.settings.sampleRate, {}};
    } else {
        renderRequest.destination = QUrl::fromLocalFile(staging.path(QStringLiteral("render.wav")));
        ExportEnvironment rendering = environment.inside();
        rendering.intermediate = true;
        render = AudioFileExporter::run(
            renderRequest, [&](double p) { if (progress) progress(p * 0.55); }, token, rendering);
        renderPath = renderRequest.destination.toLocalFile();
    }

    const QString encoded = staging.path(QStringLiteral("encoded.") + request.fileExtension());
    const std::optional<double> bpm = request.track.effectiveBPM();
    const bool handWritten = flac && render.frames <= ShortFLACWriter::maximumFrames;
    if (handWritten) {
        ShortFLACWriter::write(renderPath, encoded, int(request.settings.bitDepth), token);
        if (progress)
            progress(0.9);
    } else {
        QByteArray comments;
        if (flac)
            tagging([&] { comments = FLACTempoMetadata::newCommentBlock(bpm); });
        encode(renderPath, encoded, request.settings, comments, progress, token);
    }

    // The hand-written short file is tagged in a copy; the encoder's output is tagged already.
    const QString final = handWritten ? staging.path(QStringLiteral("tagged.flac")) : encoded;
    tag(bpm, flac, encoded, final);
    readingBack([&] { verify(final, request.settings, render, token); });
    // The FLAC encoder leaves its file to be flushed here, after the check, so that the flush
    // is not waited for while the file is read back; the tag writers flush what they write.
    if (flac && !handWritten)
        ExportFailure::step(QStringLiteral("finalizing encoded audio"),
                            [&] { FileHandle::openForReading(final).sync(); });
    if (progress)
        progress(0.99);

    AudioFileExporter::checkDestination(request);
    token.throwIfCancelled();
    ExportPublication::publish(final, request.destination);
    return {request.destination, render.frames, render.channels, render.sampleRate, {}};
}

} // namespace tampod::CompressedAudioExporter
