#include "export/engine/audio_file_exporter.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "core/native_path.h"
#include "export/engine/compressed_audio_exporter.h"
#include "export/engine/export_verification.h"
#include "export/engine/sd2_export_verification.h"
#include "export/engine/sd2_pair_exporter.h"
#include "export/internal/export_staging.h"
#include "export/internal/pcm_output_file.h"
#include "export/internal/section_view.h"
#include "export/treatments/lofi_audio_writer.h"
#include "files/access/file_access_lease.h"
#include "files/access/missing_audio_source.h"
#include "files/access/source_access_failure.h"
#include "files/access/source_file_identity.h"
#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/sample_rate_converter.h"
#include "platform/forks/fork_store_error.h"
#include "sd2/sd2_tempo_resources.h"
#include "tags/container_tempo_reader.h"
#include "tags/export_tempo_writer.h"
#include "tags/tempo_model.h"
#include "tags/tempo_write_error.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace tampod {

namespace {

using Case = AudioExportError::Case;

bool occupied(const QString &path)
{
    return statusOf(path, LinkPolicy::NoFollow).has_value();
}

// A name longer than a file system holds is refused before anything is rendered: every later
// step would fail on it, as a storage failure that names neither space nor access.
void checkNameLength(const QUrl &destination)
{
    if (encodedPath(QFileInfo(destination.toLocalFile()).fileName()).size() > NAME_MAX)
        throw AudioExportError::storage(ENAMETOOLONG);
}

// The path a URL names with every link resolved; for a name where nothing (or a dangling link)
// is, its folder resolved and the name kept.
QString resolvedPath(const QUrl &url)
{
    const QFileInfo info(url.toLocalFile());
    // A destination is usually not there yet: resolving it whole would walk its folders twice.
    if (occupied(info.filePath())) {
        if (const auto canonical = tampod::resolvedPath(info.filePath()))
            return *canonical;
    }
    const std::optional<QString> folder = tampod::resolvedPath(info.absolutePath());
    return folder.value_or(info.absolutePath()) + QLatin1Char('/') + info.fileName();
}

// The chosen folder with its links followed once, the way the user reached it: every later
// step, the exclusive rename included, opens the real folder without following links. A folder
// that is gone, or a link to anything but a folder, is refused before anything is rendered.
QUrl settledDestination(const QUrl &destination)
{
    const QFileInfo info(destination.toLocalFile());
    const std::optional<QString> folder = tampod::resolvedPath(info.absolutePath());
    const auto status = folder ? statusOf(*folder, LinkPolicy::NoFollow) : std::nullopt;
    if (!status || !S_ISDIR(status->st_mode))
        throw AudioExportError(Case::storage);
    return QUrl::fromLocalFile(*folder + QLatin1Char('/') + info.fileName());
}

std::optional<double> usableTempo(const AudioTrack &track)
{
    const auto bpm = track.effectiveBPM();
    return bpm && TempoModel::isUsable(*bpm) ? bpm : std::nullopt;
}

// The tag writers' failures carry the export's own texts; report them as export errors.
template <typename Work>
void tagging(Work work)
{
    try {
        work();
    } catch (const TempoWriteError &error) {
        switch (error.reason()) {
        case TempoWriteError::Reason::tooLarge:
            throw AudioExportError(Case::tooLarge);
        case TempoWriteError::Reason::storage:
            throw AudioExportError(Case::storage);
        case TempoWriteError::Reason::tempoMetadata:
            break;
        }
        throw AudioExportError(Case::tempoMetadata);
    }
}

// The resource fork's store refusing (a file system without user extended attributes, no room
// for the fork) is a storage failure like any other of the output.
template <typename Work>
void storing(Work work)
{
    try {
        work();
    } catch (const ForkStoreError &) {
        throw AudioExportError(Case::storage);
    } catch (const SystemError &error) {
        throw AudioExportError::storage(error.errnoValue());
    }
}

// Reports fractions of limit at most once per whole percent; the first report always goes.
class ProgressSteps {
public:
    ProgressSteps(const ExportProgress &progress, double limit) : progress_(progress), limit_(limit) {}
    void report(double estimate, double expected)
    {
        const double fraction = std::min(limit_, limit_ * estimate / expected);
        const int percent = int(fraction * 100);
        if (percent == lastPercent_)
            return;
        lastPercent_ = percent;
        if (progress_)
            progress_(fraction);
    }

private:
    const ExportProgress &progress_;
    const double limit_;
    int lastPercent_ = -1;
};

// Channels frame by frame: equal counts copy, stereo to mono averages, mono to stereo doubles.
void mapChannels(const float *in, int inChannels, float *out, int outChannels, std::int64_t frames)
{
    if (inChannels == outChannels) {
        std::copy_n(in, frames * inChannels, out);
    } else if (inChannels == 2) {
        for (std::int64_t i = 0; i < frames; ++i)
            out[i] = 0.5f * in[2 * i] + 0.5f * in[2 * i + 1];
    } else {
        for (std::int64_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = in[i];
    }
}

AudioFileReader openReader(const QString &path, const CancellationToken &token)
{
    try {
        return AudioFileReader(path, token);
    } catch (const SystemError &error) {
        if (error.errnoValue() == EACCES || error.errnoValue() == EPERM)
            throw SourceAccessFailure::denied();
        throw AudioExportError::native(QStringLiteral("opening source"), error.errnoValue());
    } catch (const AudioFileError &error) {
        // Content that is no audio stream we decode is a source this exporter cannot convert.
        if (error.kind() == AudioFileError::Kind::notAudio || error.kind() == AudioFileError::Kind::unsupported)
            throw AudioExportError(Case::unsupportedSource);
        throw AudioExportError::native(QStringLiteral("opening source"), error.code());
    }
}

int outputChannels(const ExportDefaults &settings, int sourceChannels)
{
    switch (settings.options().channels) {
    case ExportChannels::mono:
        return 1;
    case ExportChannels::stereo:
        return 2;
    case ExportChannels::source:
        break;
    }
    return sourceChannels;
}

} // namespace

// The source of a PCM export, opened and checked, with what the output will be.
struct AudioFileExporter::Source {
    AudioFileReader reader;
    std::int64_t frames = 0;
    int channels = 0;
    double rate = 0;
    int outputChannels = 0;
    double expectedFrames = 0; // at the output rate, every repetition
};

AudioFileExporter::Source AudioFileExporter::openSource(const AudioExportRequest &request,
                                                        const CancellationToken &token)
{
    const ExportDefaults &settings = request.settings;
    const AudioTrack &track = request.track;
    const auto &loop = request.loop;
    const std::optional<SectionView> section =
        loop ? std::optional(SectionView::of(*loop->section)) : std::nullopt;
    const QUrl sourceURL = section ? section->url : track.audioURL();
    const QString name = track.displayName();
    MissingAudioSource::check(sourceURL, name);
    Source source{openReader(sourceURL.toLocalFile(), token)};

    ExportFailure::step(QStringLiteral("reading audio properties"), [&] { source.frames = source.reader.length(); });
    source.channels = source.reader.channels();
    source.rate = source.reader.fileSampleRate();
    if (source.channels < 1 || source.channels > 2 || !std::isfinite(source.rate) || source.rate <= 0 ||
        source.frames < 1)
        throw AudioExportError(Case::unsupportedSource);
    if (section && (source.frames != section->frames || source.rate != section->sampleRate))
        throw AudioExportError(Case::verificationFailed);

    // Refuse what cannot fit before anything is written.
    source.outputChannels = outputChannels(settings, source.channels);
    const std::int64_t bytesPerFrame = std::int64_t(source.outputChannels) * (settings.bitDepth / 8);
    const std::int64_t repeats = loop ? loop->repeatCount : 1;
    if (repeats < 1 || source.frames > (std::numeric_limits<std::int64_t>::max() - chunkFrames) / repeats)
        throw AudioExportError(Case::tooLarge);
    source.expectedFrames = double(repeats) * double(source.frames) * double(settings.sampleRate) / source.rate;
    if (!std::isfinite(source.expectedFrames) || source.expectedFrames <= 0 ||
        source.expectedFrames * double(bytesPerFrame) > double(sizeLimit))
        throw AudioExportError(Case::tooLarge);
    return source;
}

std::optional<AudioFileExporter::VerbatimSource> AudioFileExporter::preflight(const AudioExportRequest &request,
                                                                             const CancellationToken &token)
{
    if (request.track.waitsForRecovery())
        throw AudioExportError(Case::unsupportedSource);
    Source source = openSource(request, token);
    const ExportDefaults &settings = request.settings;
    const AudioFileFormat &format = source.reader.fileFormat();
    const bool verbatim = !request.loop && !settings.hasAudioTreatment() && source.outputChannels == source.channels &&
                          source.rate == double(settings.sampleRate) && format.codec == AudioCodecKind::lpcm &&
                          !format.isFloat && format.bitsPerChannel >= 8 && format.bitsPerChannel <= settings.bitDepth;
    if (!verbatim)
        return std::nullopt;
    return VerbatimSource{request.track.audioURL().toLocalFile(), format.bitsPerChannel, source.frames, source.channels};
}

AudioExportResult AudioFileExporter::exportPCM(const AudioExportRequest &request, const ExportProgress &progress,
                                               const CancellationToken &token, const ExportEnvironment &environment)
{
    const ExportDefaults &settings = request.settings;
    const AudioTrack &track = request.track;
    request.checkIssues();
    token.throwIfCancelled();
    if (track.waitsForRecovery())
        throw AudioExportError(Case::unsupportedSource);

    const FileAccessLease lease(request.destination);
    checkDestination(request);
    const auto &loop = request.loop;
    Source opened = openSource(request, token);
    AudioFileReader &source = opened.reader;
    const std::int64_t sourceFrames = opened.frames;
    const int sourceChannels = opened.channels;
    const double sourceRate = opened.rate;
    const int channels = opened.outputChannels;
    const double expectedFrames = opened.expectedFrames;
    const std::int64_t repeats = loop ? loop->repeatCount : 1;
    const PCMOutputFormat output =
        PCMOutputFormat::integer(settings.format, int(settings.sampleRate), channels, int(settings.bitDepth));

    // A whole file is read already at the output rate; a loop at its own rate, so that its
    // repetitions reach one converter as one continuous stream.
    std::unique_ptr<SampleRateConverter> converter;
    ExportFailure::step(QStringLiteral("configuring source conversion"), [&] {
        if (!loop)
            source.setClientSampleRate(double(settings.sampleRate));
        else if (int(sourceRate) != settings.sampleRate)
            converter = std::make_unique<SampleRateConverter>(channels, int(sourceRate), int(settings.sampleRate));
    });
    const double processingRate = loop ? sourceRate : double(settings.sampleRate);

    ExportStaging staging(environment.store, request.destination, environment.insideStaging,
                          request.sharedStaging.get());
    const bool treated = settings.hasAudioTreatment();
    const QString staged = staging.path(QStringLiteral("audio.") + request.fileExtension());
    const QString written = treated ? staging.path(QStringLiteral("converted.caf")) : staged;
    // Integer samples that need no change of rate, layout or value are copied as integers:
    // exactly what the float path would write, without its conversions.
    const AudioFileFormat &sourceFormat = source.fileFormat();
    const bool direct = !treated && !converter && channels == sourceChannels && processingRate == sourceRate &&
                        PCMOutputFile::takesIntegers(output) &&
                        (sourceFormat.codec == AudioCodecKind::lpcm || sourceFormat.codec == AudioCodecKind::flac) &&
                        !sourceFormat.isFloat && sourceFormat.bitsPerChannel >= 8 &&
                        sourceFormat.bitsPerChannel <= output.bits;
    std::optional<PCMOutputFile> file;
    ExportFailure::step(QStringLiteral("creating output"), [&] {
        file.emplace(written, treated ? PCMOutputFormat::intermediate(output.sampleRate, channels) : output, token,
                     direct);
    });

    std::vector<std::int32_t> integers(direct ? size_t(AudioFileExporter::chunkFrames * sourceChannels) : 0);
    std::vector<float> in(size_t(AudioFileExporter::chunkFrames * sourceChannels));
    std::vector<float> out(size_t(AudioFileExporter::chunkFrames * channels));
    std::int64_t framesOut = 0; // at the output rate
    const auto writeFrames = [&](const float *frames, std::int64_t n) {
        ExportFailure::step(QStringLiteral("writing audio"), [&] { file->write(frames, n); });
        framesOut += n;
    };
    const auto drainConverter = [&] {
        while (const std::int64_t n = converter->take(out.data(), AudioFileExporter::chunkFrames))
            writeFrames(out.data(), n);
    };
    ProgressSteps steps(progress, treated ? 0.65 : 0.98);
    std::int64_t processed = 0; // frames at the processing rate
    std::int64_t passFrames = 0;
    token.throwIfCancelled();
    for (std::int64_t passesLeft = repeats;;) {
        std::int64_t n = 0;
        ExportFailure::step(QStringLiteral("decoding source"), [&] {
            n = direct ? source.readInt32Interleaved(integers.data(), AudioFileExporter::chunkFrames)
                       : source.readFloatInterleaved(in.data(), AudioFileExporter::chunkFrames);
        });
        if (n == 0) {
            if (loop && passFrames != sourceFrames)
                throw AudioExportError(Case::verificationFailed);
            if (--passesLeft == 0)
                break;
            ExportFailure::step(QStringLiteral("restarting selected loop"), [&] { source.seek(0); });
            passFrames = 0;
            token.throwIfCancelled();
            continue;
        }
        const double estimate = double(processed + n) * double(settings.sampleRate) / processingRate;
        if (estimate * double(output.bytesPerFrame()) > double(AudioFileExporter::sizeLimit))
            throw AudioExportError(Case::tooLarge);
        if (direct) {
            ExportFailure::step(QStringLiteral("writing audio"), [&] { file->writeIntegers(integers.data(), n); });
            framesOut += n;
        } else {
            mapChannels(in.data(), sourceChannels, out.data(), channels, n);
            if (converter) {
                ExportFailure::step(QStringLiteral("writing audio"), [&] { converter->push(out.data(), n); });
                drainConverter();
            } else {
                writeFrames(out.data(), n);
            }
        }
        processed += n;
        passFrames += n;
        steps.report(estimate, expectedFrames);
        token.throwIfCancelled();
    }
    if (converter) {
        ExportFailure::step(QStringLiteral("writing audio"), [&] { converter->finish(); });
        drainConverter();
    }
    ExportFailure::step(QStringLiteral("finalizing output"), [&] { file->finish(); });
    file.reset();
    token.throwIfCancelled();

    if (treated) {
        const std::int64_t maximumFrames = AudioFileExporter::sizeLimit / output.bytesPerFrame();
        LoFiAudioWriter::write(written, staged, output, settings.loFi, settings.clippingDB, settings.vinyl,
                               maximumFrames, progress, token);
    }

    const auto bpm = usableTempo(track);
    if (settings.format == ExportFormat::sd2) {
        // The fork goes into the staged file's extended attribute, so the rename that publishes
        // the data fork publishes the fork with it.
        const QUrl url = QUrl::fromLocalFile(staged);
        storing([&] {
            environment.forks.write(staged, SD2ResourceFork::parameters(output.bits / 8, output.sampleRate, channels));
        });
        storing([&] { SD2TempoMetadata::write(track.effectiveBPM(), url, environment.forks); });
        SD2ExportVerification::verify(url, settings, channels, track.effectiveBPM(), environment.forks);
    } else if (!environment.intermediate) {
        const auto container = settings.format == ExportFormat::wav ? ExportTempoWriter::Container::wav
                                                                    : ExportTempoWriter::Container::aiff;
        tagging([&] { ExportTempoWriter::write(track.effectiveBPM(), staged, container); });
        if (bpm && ContainerTempoReader::read(staged, false) != bpm)
            throw AudioExportError(Case::tempoMetadata);
    }

    // A whole file must come back exactly as written; a loop within the converter's rounding.
    const double expected = loop ? double(repeats) * double(sourceFrames) * double(settings.sampleRate) / sourceRate
                                 : double(framesOut);
    const std::int64_t frames =
        ExportVerification::verifyPCM(staged, output, expected, loop ? 2 : 0, environment.forks, token);

    checkDestination(request);
    token.throwIfCancelled();
    ExportPublication::publish(staged, request.destination);
    return {request.destination, frames, std::uint32_t(channels), settings.sampleRate, {}};
}

AudioFileExporter::AudioFileExporter(ExportEnvironment environment)
    : environment_(std::move(environment)), executor_(QStringLiteral("tamPOD export"))
{
}

Async<AudioExportResult> AudioFileExporter::exportAudio(AudioExportRequest request, ExportProgress progress,
                                                        CancellationToken token)
{
    return executor_.submit([this, request = std::move(request), progress = std::move(progress), token] {
        return run(request, progress, token, environment_);
    });
}

AudioExportResult AudioFileExporter::run(const AudioExportRequest &request, const ExportProgress &progress,
                                         const CancellationToken &token, const ExportEnvironment &environment)
{
    if (!environment.insideStaging && request.destination.isLocalFile()) {
        AudioExportRequest settled = request;
        settled.destination = settledDestination(request.destination);
        return dispatch(settled, progress, token, environment);
    }
    return dispatch(request, progress, token, environment);
}

AudioExportResult AudioFileExporter::dispatch(const AudioExportRequest &request, const ExportProgress &progress,
                                              const CancellationToken &token, const ExportEnvironment &environment)
{
    if (request.pairOutput == SD2PairOutput::separateMono) {
        return SD2PairExporter::run(request, progress, token, environment);
    }
    if (ExportFormats::isNativeCompressedOutput(request.settings.format))
        return CompressedAudioExporter::run(request, progress, token, environment);
    return exportPCM(request, progress, token, environment);
}

void AudioFileExporter::checkDestination(const AudioExportRequest &request)
{
    checkNameLength(request.destination);
    const QString destination = resolvedPath(request.destination);
    const auto destinationIdentity = SourceFileIdentity::ofPath(destination);
    QList<QUrl> candidates = request.track.originalURLs();
    candidates << request.track.audioURL();
    if (request.loop)
        candidates << SectionView::of(*request.loop->section).url;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QUrl &candidate = candidates[i];
        // A track's audio is most often its original file: the same path resolves once.
        if (!candidate.isLocalFile() || candidates.indexOf(candidate) < i)
            continue;
        const QString path = resolvedPath(candidate);
        if (path == destination)
            throw AudioExportError(Case::sourceDestinationConflict);
        const auto identity = SourceFileIdentity::ofPath(path);
        if (identity && destinationIdentity && *identity == *destinationIdentity)
            throw AudioExportError(Case::sourceDestinationConflict);
    }
    const QString path = request.destination.toLocalFile();
    if (occupied(path))
        throw AudioExportError(Case::destinationExists);
    if (request.settings.format == ExportFormat::sd2) {
        const QFileInfo info(path);
        const QString folder = info.absolutePath() + QLatin1Char('/');
        if (occupied(folder + QStringLiteral("._") + info.fileName()) ||
            occupied(folder + QStringLiteral(".AppleDouble/") + info.fileName()))
            throw AudioExportError(Case::destinationExists);
    }
}

} // namespace tampod
