#pragma once

#include <QString>

// The fixed texts of the SD2 recovery buttons, the recovery status and the SD2 tools sheet,
// compared exactly by the tests.
namespace tampod::SD2ViewText {

// Quick recovery buttons.
inline const QString selected = QStringLiteral("Selected");
inline const QString notSelected = QStringLiteral("Not selected");
inline const QString recoveryLabelPrefix = QStringLiteral("SD2 recovery ");
inline const QString kilohertzLabelSuffix = QStringLiteral(" kilohertz");
inline const QString bitLabelSuffix = QStringLiteral(" bit");
inline const QString bitSuffix = QStringLiteral("-bit");
inline const QString rateHelpPrefix = QStringLiteral("Change the assumed rate to ");
inline const QString rateHelpSuffix = QStringLiteral(
    " kHz while retaining bit depth and channels. Missing-metadata SD2 starts at 16-bit, 44.1 kHz: mono for .L/.R "
    "channels, stereo otherwise. File > Advanced SD2 Recovery… offers other formats.");
inline const QString depthHelpPrefix = QStringLiteral("Try reading the original SD2 bytes as ");
inline const QString depthHelpSuffix = QStringLiteral(
    "-bit PCM, retaining rate and channels. A warning appears before changing depth: the wrong choice can produce "
    "loud white-noise-like sound.");

// Recovery status.
inline const QString hintWithCopy = QStringLiteral(
    "Press Play to audition. Use 44.1/48 and 16-bit/24-bit to compare. Other formats: File > Advanced SD2 "
    "Recovery…. Original unchanged.");
inline const QString hintWithRequest = QStringLiteral(
    "Choose a rate or bit depth to prepare a listening copy. Other formats: File > Advanced SD2 Recovery….");
inline const QString hintWithNothing = QStringLiteral("Choose File > Advanced SD2 Recovery… for recovery parameters.");
inline const QString queued = QStringLiteral("Queued for recovery…");
inline const QString preparing = QStringLiteral("Preparing ");
inline const QString bitComma = QStringLiteral("-bit, ");
inline const QString kilohertzEllipsis = QStringLiteral(" kHz… ");
inline const QString recovering = QStringLiteral("Recovering ");
inline const QString ellipsisSpace = QStringLiteral("… ");
inline const QString percent = QStringLiteral("%");
inline const QString cancel = QStringLiteral("Cancel");

// SD2 tools sheet.
inline const QString toolsTitle = QStringLiteral("Advanced SD2 Recovery");
inline const QString bitDepthPicker = QStringLiteral("Assumed bit depth");
inline const QString sampleRateField = QStringLiteral("Assumed sample rate (Hz)");
inline const QString channelsPicker = QStringLiteral("Assumed channels");
inline const QString mono = QStringLiteral("Mono — one channel");
inline const QString stereo = QStringLiteral("Stereo — interleaved channels");
inline const QString interpretationNote = QStringLiteral(
    "Signed big-endian PCM. These choices interpret existing bytes; they do not discover missing settings or repair "
    "samples. A wrong bit depth can produce loud, full-scale white-noise-like sound even if preparation succeeds. "
    "Start at low listening volume. Use Mono for a separate left or right channel. Originals remain unchanged.");
inline const QString volumeCapPrefix = QStringLiteral("Trying 8-, 24- or 32-bit caps the app’s listening volume at ");
inline const QString volumeCapSuffix = QStringLiteral(
    "% or keeps it lower. Reselecting 16-bit restores your previous volume once that interpretation is ready. Raise it "
    "gradually only after checking the sound. System volume and your output device are unchanged.");
inline const QString prepareRecoveryCopy = QStringLiteral("Prepare Recovery Copy");
inline const QString leftPrefix = QStringLiteral("Left: ");
inline const QString rightPrefix = QStringLiteral("Right: ");
inline const QString pairNote = QStringLiteral(
    "Play auditions both channels together. Export offers one stereo file or separate left/right mono files. Unpair "
    "restores the original rows and their recovery choices.");
inline const QString unpair = QStringLiteral("Unpair");
inline const QString decoderNote = QStringLiteral(
    "The system decoder supplies this file’s playback format. This does not establish its historical recording "
    "settings.");
inline const QString pairHeading = QStringLiteral("Pair mono SD2 files");
inline const QString leftChannel = QStringLiteral("Left channel");
inline const QString rightChannel = QStringLiteral("Right channel");
inline const QString chooseFile = QStringLiteral("Choose file");
inline const QString pairingNote = QStringLiteral(
    "Only matching .L/.R recording names from the same folder with identical rate, bit depth and exact length can be "
    "paired. The Right channel list contains only compatible matches. Confirm that both files begin at the same "
    "recording position; no trimming, padding or alignment is applied.");
inline const QString chooseBoth = QStringLiteral("Choose a left file and a right file.");
inline const QString cancelPairing = QStringLiteral("Cancel Pairing");
inline const QString createStereoPair = QStringLiteral("Create Stereo Pair");
inline const QString done = QStringLiteral("Done");

} // namespace tampod::SD2ViewText
