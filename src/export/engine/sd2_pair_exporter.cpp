#include "export/engine/sd2_pair_exporter.h"

#include "export/internal/export_staging.h"
#include "files/access/file_access_lease.h"
#include "files/journal/audio_export_error.h"
#include "files/journal/split_export_file_safety.h"
#include "files/journal/split_export_transaction.h"
#include "library/sd2_pair_audio.h"
#include "sd2/stereo_pcm_tools.h"

#include <QFileInfo>

namespace tampod::SD2PairExporter {

namespace {

using Case = AudioExportError::Case;

void checkDestinations(const AudioExportRequest &request, const QList<QUrl> &destinations)
{
    for (const QUrl &destination : destinations) {
        AudioExportRequest aimed = request;
        aimed.destination = destination;
        AudioFileExporter::checkDestination(aimed);
    }
}

// A library record standing for one channel file of the render, carrying the pair's tempo.
AudioTrack channelTrack(const QString &path, double seconds, std::optional<double> bpm)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.duration = seconds;
    track.bpm = bpm;
    track.access = std::make_shared<const FileAccessLease>(QUrl::fromLocalFile(path));
    return track;
}

} // namespace

AudioExportResult run(const AudioExportRequest &request, const ExportProgress &progress, const CancellationToken &token,
                      const ExportEnvironment &environment)
{
    const auto report = [&](double fraction) {
        if (progress)
            progress(fraction);
    };
    request.checkIssues(); // a track that is no pair has its sentence among them
    const QList<QUrl> destinations = SD2PairOutputs::destinations(request.destination);
    const FileAccessLease lease(QUrl::fromLocalFile(QFileInfo(request.destination.toLocalFile()).path()));
    checkDestinations(request, destinations);
    token.throwIfCancelled();

    // The render of the whole pair, with every treatment, as a stereo WAV.
    AudioExportRequest render;
    render.track = request.track;
    render.loop = request.loop;
    render.settings = request.settings;
    render.settings.format = ExportFormat::wav;
    if (request.settings.format == ExportFormat::m4aAAC)
        render.settings.bitDepth = 24;
    EncodingOptions stereo = EncodingOptions::initial(ExportFormat::wav);
    stereo.channels = ExportChannels::stereo;
    render.settings.encodingByFormat[ExportFormats::rawValue(ExportFormat::wav)] = stereo;
    AudioFileExporter::preflight(render, token);

    ExportStaging staging(environment.store, request.destination); // the journal needs a folder of its own
    render.destination = QUrl::fromLocalFile(staging.path(QStringLiteral("processed.wav")));
    const AudioExportResult processed =
        AudioFileExporter::run(render, [&](double p) { report(0.5 * p); }, token, environment.inside());
    const QList<QUrl> halves = {QUrl::fromLocalFile(staging.path(QStringLiteral("left.wav"))),
                                QUrl::fromLocalFile(staging.path(QStringLiteral("right.wav")))};
    StereoPCMTools::split(render.destination, halves[0], halves[1], int(render.settings.bitDepth), token);

    // Each channel on its own in the requested format; the render already carries the treatments.
    ExportDefaults channelSettings = request.settings;
    channelSettings.loFi = LoFiTreatment::off;
    channelSettings.clippingDB = 0;
    channelSettings.vinyl.enabled = false;
    EncodingOptions mono = request.settings.options();
    mono.channels = ExportChannels::mono;
    channelSettings.encodingByFormat[ExportFormats::rawValue(request.settings.format)] = mono;
    QList<QUrl> outputs;
    for (int i = 0; i < 2; ++i) {
        AudioExportRequest channel;
        channel.track = channelTrack(halves[i].toLocalFile(), double(processed.frames) / double(processed.sampleRate),
                                     request.track.effectiveBPM());
        channel.settings = channelSettings;
        channel.destination = QUrl::fromLocalFile(
            staging.path(QStringLiteral("encoded-%1.").arg(i) + request.fileExtension()));
        const AudioExportResult result = AudioFileExporter::run(
            channel, [&](double p) { report(0.5 + 0.24 * i + 0.24 * p); }, token, environment.inside());
        if (result.channels != 1 || result.frames != processed.frames || result.sampleRate != processed.sampleRate)
            throw AudioExportError(Case::verificationFailed);
        outputs << channel.destination;
    }
    token.throwIfCancelled();
    checkDestinations(request, destinations);

    // From the journal on, a crash at any point is completed or taken back by the recovery.
    const TemporaryExportDirectory &stage = staging.directory();
    SplitExportTransaction::begin(stage, outputs, destinations);
    try {
        SplitExportFileSafety::publish(outputs[0], destinations[0]);
        SplitExportFileSafety::publish(outputs[1], destinations[1]);
        SplitExportTransaction::write(stage.owner.toJson(),
                                      QUrl::fromLocalFile(staging.path(SplitExportTransaction::committedMarkerName)));
    } catch (...) {
        std::optional<SplitExportTransaction::Outcome> outcome;
        try {
            outcome = SplitExportTransaction::recover(stage.url, stage.owner);
        } catch (...) {
            staging.keep(); // with its journal, for the next launch
            throw AudioExportError(Case::splitRecoveryPending);
        }
        if (outcome != SplitExportTransaction::Outcome::completed)
            throw;
    }
    report(1.0);
    return {destinations[0], processed.frames, 1, processed.sampleRate, {destinations[1]}};
}

} // namespace tampod::SD2PairExporter
