#pragma once

#include <QString>

// The fixed texts of the export-settings form, compared exactly by the tests.
namespace tampod::ExportFormText {

inline const QString format = QStringLiteral("Format");
inline const QString sampleRate = QStringLiteral("Sample rate");
inline const QString bitDepth = QStringLiteral("Bit depth");
inline const QString loFi = QStringLiteral("Lo-fi treatment");
inline const QString clipping = QStringLiteral("Clipping drive");

inline const QString savedUnavailable = QStringLiteral(" — saved, unavailable");
inline const QString chooseValidRate = QStringLiteral(" kHz — choose a valid rate");
inline const QString kHz = QStringLiteral(" kHz");
inline const QString bit = QStringLiteral(" bit");
inline const QString chooseSupportedDepth = QStringLiteral(" — choose a supported depth");
inline const QString chooseOffOrDepth = QStringLiteral(" — choose Off or a supported depth");
inline const QString chooseClippingRange = QStringLiteral(" — choose +1 to +12 dB");
inline const QString chooseOffOrOutput = QStringLiteral(" — choose Off or supported output");
inline const QString kbps = QStringLiteral(" kbps");
inline const QString chooseValidTarget = QStringLiteral(" kbps — choose a valid target");
inline const QString off = QStringLiteral("Off");
inline const QString eightBit = QStringLiteral("8-bit");
inline const QString twelveBit = QStringLiteral("12-bit");
inline const QString dB = QStringLiteral(" dB");

inline const QString formatOptions = QStringLiteral("Format options");
inline const QString channels = QStringLiteral("Channels");
inline const QString sampleEncoding = QStringLiteral("Sample encoding");
inline const QString aacProfile = QStringLiteral("AAC profile");
inline const QString wmaProfile = QStringLiteral("WMA profile");
inline const QString rateControl = QStringLiteral("Rate control");
inline const QString vbrQuality = QStringLiteral("VBR quality: ");
inline const QString bitrateTarget = QStringLiteral("Bitrate target");
inline const QString compression = QStringLiteral("Compression preference");
inline const QString automatic = QStringLiteral("Automatic");
inline const QString dialogueLevel = QStringLiteral("Dialogue level: ");

inline const QString sd2Note = QStringLiteral(
    "SD2 includes a resource fork that must stay with the audio when copied or shared. Known BPM uses native SD2 "
    "tempo plus a precise tamPOD tag. Support in other apps varies. Markers and regions are not copied. Recovered "
    "audio uses your chosen settings, not verified original parameters.");

inline const QString vinylNote = QStringLiteral(
    "Vinyl and Hum levels are remembered automatically for future exports, even if you cancel. Preview Vinyl and "
    "Preview Hum play each layer alone at its mix level, using the main listening volume. Processed plays the full "
    "song mix. Higher levels make the noise stronger and reduce the song to leave room. Changing settings stops "
    "preview. Noise continues across song-loop repeats.");
inline const QString eightBitWavNote = QStringLiteral(
    "8-bit WAV stores smaller, low-resolution audio. Lo-fi treatment is available with 16/24-bit WAV, AIFF or FLAC, "
    "and AAC.");
inline const QString gritNote =
    QStringLiteral("Lo-fi treatment adds 8- or 12-bit grit while keeping the chosen file bit depth.");
inline const QString gritWithPreview =
    QStringLiteral(" Hear it with Processed preview in Export; main playback stays unchanged.");
inline const QString gritWithoutPreview = QStringLiteral(" Main playback stays unchanged.");
inline const QString lossyGritNote = QStringLiteral(
    "Lo-fi treatment adds 8- or 12-bit grit before lossy encoding. AAC has no file PCM bit depth.");
inline const QString clippingNote = QStringLiteral(
    "Clipping boosts the signal by the chosen amount, then hard-clips peaks. It can increase loudness and "
    "distortion. All effects apply to exports");
inline const QString clippingWithPreview = QStringLiteral(" and Processed preview.");
inline const QString clippingWithoutPreview = QStringLiteral(".");

inline const QString vinylTexture = QStringLiteral("Vinyl texture");
inline const QString vinylTextureHelp =
    QStringLiteral("Mix a recorded vinyl texture and optional hum into exported audio.");
inline const QString vinylSounds = QStringLiteral("Vinyl sounds");
// Followed by the sample's digit.
inline const QString vinylSample = QStringLiteral("Vinyl ");
inline const QString vinylLevel = QStringLiteral("Vinyl Level");
inline const QString humLevel = QStringLiteral("Hum Level");
inline const QString addHum = QStringLiteral("Add Vinyl Hum");
inline const QString newPattern = QStringLiteral("New Pattern");
inline const QString newPatternHelp = QStringLiteral(
    "Choose different starting positions in the recordings. Preview and export keep these positions until you "
    "change them.");
// Each followed by the layer's title.
inline const QString previewLayer = QStringLiteral("Preview ");
inline const QString stopLayerPreview = QStringLiteral("Stop preview — ");
inline const QString stopLayerHelp = QStringLiteral("Stop this preview");
inline const QString layerHelp =
    QStringLiteral("Hear this layer alone at its selected mix level. Uses the main listening volume.");
inline const QString humResource = QStringLiteral("vinyl_hum");

} // namespace tampod::ExportFormText
