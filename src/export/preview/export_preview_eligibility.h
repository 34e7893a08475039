#pragma once

#include "concurrency/cancellation.h"
#include "concurrency/task_handle.h"
#include "export/export_defaults.h"
#include "library/audio_track.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace tampod {

// Why an export with given settings changes the audio, and a note for the sheet.
struct PreviewComparison {
    QString reason;
    std::optional<QString> advisory;

    bool operator==(const PreviewComparison &) const = default;
};

// What the audition buttons need to know of a source's format.
struct PreviewSourceFormat {
    double sampleRate = 0;
    std::uint32_t channels = 0;
    // Integer PCM of known depth only; none for float, compressed or unknown precision.
    std::optional<int> integerBitDepth;

    bool operator==(const PreviewSourceFormat &) const = default;

    // None when an export with these settings would not change the audio.
    std::optional<PreviewComparison> comparison(const ExportDefaults &settings) const;
};

namespace PreviewSourceInspector {
// Reads the format of the track's decoded file, a FLAC file's depth from its STREAMINFO.
// Throws the reader's error, AudioExportError unsupportedSource (awaiting SD2 recovery, empty,
// no usable rate, not mono or stereo) or Cancelled. Runs on the calling thread.
PreviewSourceFormat inspect(const AudioTrack &track, const CancellationToken &token);
} // namespace PreviewSourceInspector

// Whether an Original/Processed comparison can be offered for one export sheet's recording.
// thread: main only, like its task.
class ExportPreviewEligibility : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~ExportPreviewEligibility() override;

    // None while unknown and after a failed inspection.
    const std::optional<PreviewSourceFormat> &source() const { return source_; }
    bool isChecking() const { return isChecking_; }

    // (Re)starts the inspection of track; one still running is cancelled and changes nothing.
    void refresh(const AudioTrack &track);
    // Why no comparison can be offered now, or none.
    std::optional<QString> unavailableReason(const ExportDefaults &settings) const;

Q_SIGNALS:
    void sourceChanged();
    void isCheckingChanged();

private:
    void setSource(const std::optional<PreviewSourceFormat> &source);
    void setIsChecking(bool checking);

    std::optional<PreviewSourceFormat> source_;
    bool isChecking_ = false;
    TaskHandle task_;
};

} // namespace tampod
