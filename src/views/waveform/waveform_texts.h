#pragma once

#include <QString>

// The fixed texts of the waveform pane, its lanes and the section-loop overlay, compared
// exactly by the tests.
namespace tampod::WaveformText {

inline const QString paneLabel = QStringLiteral("Audio waveform");
inline const QString noAudioSelected = QStringLiteral("No audio selected");
inline const QString preparingRecoveredAudio = QStringLiteral("Preparing recovered audio…");
inline const QString chooseRecovery = QStringLiteral("Choose File > Advanced SD2 Recovery…");
inline const QString preparingWaveform = QStringLiteral("Preparing waveform…");
inline const QString waveformUnavailable = QStringLiteral("Waveform unavailable");
inline const QString loadingDetail = QStringLiteral("Loading waveform detail…");
inline const QString detailUnavailable = QStringLiteral("Waveform detail unavailable");
inline const QString dragHint = QStringLiteral("Drag Waveform Left or Right to Re-Position");

inline const QString leftLane = QStringLiteral("L");
inline const QString rightLane = QStringLiteral("R");
inline const QString leftLaneLabel = QStringLiteral("Linked left channel waveform");
inline const QString rightLaneLabel = QStringLiteral("Linked right channel waveform");

inline const QString releaseToApply = QStringLiteral("Release to apply");
inline const QString sectionLoop = QStringLiteral("SECTION LOOP");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString sectionStart = QStringLiteral("Section start");
inline const QString sectionEnd = QStringLiteral("Section end");
inline const QString markerHint =
    QStringLiteral("Use arrow keys to adjust the section boundary. Changes pause playback.");
inline const QString undoChange = QStringLiteral("Undo Loop Boundary Change");
inline const QString redoChange = QStringLiteral("Redo Loop Boundary Change");

} // namespace tampod::WaveformText
