#pragma once

#include <QString>

// The fixed texts of the library pane, compared exactly by the tests.
namespace tampod::LibraryText {

inline const QString tableLabel = QStringLiteral("Audio files");
inline const QString emDash = QStringLiteral("—");

inline const QString checkedHeaderLabel = QStringLiteral("Checked for export");
inline const QString checkedHeaderHelp = QStringLiteral("Check files below to include them in Export Checked");
inline const QString repeatHeaderLabel = QStringLiteral("Repeat");
inline const QString dropHint = QStringLiteral("Drop audio files or folders here");

inline const QString linkedChannelHelp = QStringLiteral("Linked %1 channel; plays and exports with its partner");

inline const QString get = QStringLiteral("Get");
inline const QString cancelMark = QStringLiteral("×");
inline const QString getLabel = QStringLiteral("Get BPM for ");
inline const QString getHelp = QStringLiteral("Detect BPM for ");
inline const QString getUnavailableHelp = QStringLiteral("BPM detection is available when audio preparation finishes");
inline const QString queued = QStringLiteral("Queued");
inline const QString detecting = QStringLiteral("Detecting BPM");
inline const QString cancelLabel = QStringLiteral("Cancel BPM detection for ");
inline const QString cancelHelp = QStringLiteral("Cancel BPM detection");

inline const QString exportLabel = QStringLiteral("Export ");
inline const QString exportLinkedLabel = QStringLiteral("Export linked pair, %1 channel: ");
inline const QString checkHelp = QStringLiteral("Include %1 in Export Checked; audition selection stays unchanged");
inline const QString linkedCheckHelp = QStringLiteral("Check or uncheck both linked channels together");

inline const QString sectionRepeat = QStringLiteral("Section repeat");
inline const QString wholeFileRepeat = QStringLiteral("Whole-file repeat");

inline const QString link = QStringLiteral("Link L and R");
inline const QString linkHelp =
    QStringLiteral("Link the two highlighted mono SD2 files; both must begin at the same recording position");
inline const QString unlink = QStringLiteral("Unlink");
inline const QString cancelLinking = QStringLiteral("Cancel Linking");
inline const QString exportLinked = QStringLiteral("Export Linked");
inline const QString exportSelected = QStringLiteral("Export Selected");
inline const QString exportChecked = QStringLiteral("Export Checked");
inline const QString loadingAudio = QStringLiteral("Loading audio…");

} // namespace tampod::LibraryText
