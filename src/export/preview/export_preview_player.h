#pragma once

#include "concurrency/async.h"
#include "concurrency/cancellation.h"
#include "concurrency/serial_executor.h"
#include "export/preview/export_preview_request.h"

#include <QUuid>

#include <functional>
#include <memory>

namespace tampod {

class AudioFilePlayer;

// Plays one prepared audition and says whether it still plays.
class ExportPreviewPlaying {
public:
    virtual ~ExportPreviewPlaying() = default;
    // Replaces whatever plays with audio; throws MissingAudioSource, SourceAccessFailure, the
    // reader's error, PlaybackFailure or Cancelled, leaving nothing playing.
    virtual Async<void> play(std::shared_ptr<const PreparedExportPreview> audio, double volume,
                             CancellationToken token) = 0;
    // Throws PlaybackFailure cannotPlay once the playback failed to decode.
    virtual Async<bool> isPlaying() = 0;
    virtual Async<void> stop() = 0;
};

// An audition as a second source on the one process-wide output, beside main playback.
// Original and Processed loop until stopped; Vinyl and Hum play their repetitions and end.
// While it plays, it keeps the prepared audition (and so its files) alive. An actor.
class ExportPreviewPlayer final : public ExportPreviewPlaying {
public:
    // Is handed each playback's end report as it is made, so that tests can deliver one late.
    using ReportTap = std::function<void(std::function<void(bool successfully)> report)>;

    explicit ExportPreviewPlayer(ReportTap tap = {});
    ~ExportPreviewPlayer() override;
    ExportPreviewPlayer(const ExportPreviewPlayer &) = delete;
    ExportPreviewPlayer &operator=(const ExportPreviewPlayer &) = delete;

    Async<void> play(std::shared_ptr<const PreparedExportPreview> audio, double volume,
                     CancellationToken token) override;
    Async<bool> isPlaying() override;
    Async<void> stop() override;

private:
    struct ReportGate;
    void start(std::shared_ptr<const PreparedExportPreview> audio, double volume, const CancellationToken &token);
    void stopPlayback();
    void finished(const QUuid &generation, bool successfully);

    std::unique_ptr<AudioFilePlayer> player_;          // thread: actor
    std::shared_ptr<const PreparedExportPreview> audio_; // thread: actor
    bool failed_ = false;                              // thread: actor
    QUuid generation_ = QUuid::createUuid();           // thread: actor
    const std::shared_ptr<ReportGate> gate_;           // thread: any; see ReportGate
    const ReportTap tap_;                              // thread: actor
    SerialExecutor executor_; // last: drained and joined before the state above goes
};

} // namespace tampod
