#include "export/preview/export_preview_eligibility.h"

#include "concurrency/detached.h"
#include "concurrency/thread_role.h"
#include "core/observable.h"
#include "files/journal/audio_export_error.h"
#include "platform/decode/audio_file_reader.h"
#include "tags/flac_tempo_metadata.h"

#include <QPointer>

#include <cmath>

namespace tampod {

std::optional<PreviewComparison> PreviewSourceFormat::comparison(const ExportDefaults &settings) const
{
    const auto because = [](const char *reason) { return PreviewComparison{QString::fromUtf8(reason), std::nullopt}; };
    if (settings.format == ExportFormat::m4aAAC)
        return because("Lossy encoding changes the audio. Preview uses the encoded output.");
    if (settings.hasAudioTreatment())
        return because("Export effects are enabled.");
    if (settings.bitDepth == 8 && integerBitDepth != 8)
        return because("8-bit output reduces sample resolution.");
    if (channels == 2 && settings.options().channels == ExportChannels::mono)
        return because("Stereo audio will be mixed to mono.");
    const double rate = double(settings.sampleRate);
    // 44,100 Hz or more never counts as reducing bandwidth, whatever the source.
    if (settings.sampleRate <= 44099 && sampleRate > rate)
        return because("Output sample rate reduces bandwidth.");
    const bool sameRate = sampleRate == rate;
    if (!integerBitDepth)
        return because(sameRate ? "Source precision is non-integer or unknown; conversion comparison allowed."
                                : "Output resolution differs from the source.");
    if (sameRate && settings.bitDepth == *integerBitDepth)
        return std::nullopt;
    return PreviewComparison{QStringLiteral("Output resolution differs from the source."),
                             QStringLiteral("Any audible difference may be very subtle.")};
}

PreviewSourceFormat PreviewSourceInspector::inspect(const AudioTrack &track, const CancellationToken &token)
{
    token.throwIfCancelled();
    if (track.waitsForRecovery())
        throw AudioExportError(AudioExportError::Case::unsupportedSource);
    const QString path = track.audioURL().toLocalFile();
    AudioFileReader reader(path, token);
    const AudioFileFormat &format = reader.fileFormat();
    const std::int64_t length = reader.length();
    if (length < 1 || !std::isfinite(format.sampleRate) || !(format.sampleRate > 0) ||
        (format.channels != 1 && format.channels != 2))
        throw AudioExportError(AudioExportError::Case::unsupportedSource);

    PreviewSourceFormat source{format.sampleRate, std::uint32_t(format.channels), std::nullopt};
    if (format.codec == AudioCodecKind::lpcm && !format.isFloat && format.bitsPerChannel != 0)
        source.integerBitDepth = format.bitsPerChannel;
    if (format.codec == AudioCodecKind::flac) {
        if (const auto stream = FLACTempoMetadata::sourceFormat(path))
            source.integerBitDepth = stream->bitsPerSample;
    }
    token.throwIfCancelled();
    return source;
}

ExportPreviewEligibility::~ExportPreviewEligibility()
{
    task_.cancel();
}

void ExportPreviewEligibility::refresh(const AudioTrack &track)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    task_.cancel();
    setSource(std::nullopt);
    setIsChecking(true);
    QPointer<ExportPreviewEligibility> self(this);
    task_ = TaskHandle::start([self, track](CancellationToken cancel) -> QCoro::Task<> {
        std::optional<PreviewSourceFormat> source;
        try {
            // Kept in a local: temporaries of a co_await operand are not safe on every compiler.
            auto inspecting = runDetached(TaskPriority::UserInitiated,
                                          [track, cancel] { return PreviewSourceInspector::inspect(track, cancel); });
            source = co_await inspecting;
        } catch (...) {
            // Any failure leaves no source; the sheet says so in its own words.
        }
        if (cancel.isCancelled() || !self)
            co_return;
        if (source)
            self->setSource(source);
        self->setIsChecking(false);
    });
}

std::optional<QString> ExportPreviewEligibility::unavailableReason(const ExportDefaults &settings) const
{
    if (isChecking_)
        return QStringLiteral("Checking the source audio…");
    if (!source_)
        return QStringLiteral(
            "Preview unavailable. Choose Restore File Access… and select the original file, then try again.");
    if (!source_->comparison(settings))
        return QStringLiteral("No audio changes to compare.");
    return std::nullopt;
}

void ExportPreviewEligibility::setSource(const std::optional<PreviewSourceFormat> &source)
{
    setObservable(this, source_, source, &ExportPreviewEligibility::sourceChanged);
}

void ExportPreviewEligibility::setIsChecking(bool checking)
{
    setObservable(this, isChecking_, checking, &ExportPreviewEligibility::isCheckingChanged);
}

} // namespace tampod
