#include "export/audio_export_request.h"
#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>

using namespace tampod;
using Case = AudioExportError::Case;

namespace {

const QString countSentence = "Enter a repeat count from 1 to 999.";
const QString loopSentence = "The loop selection does not match this source. Close Export and select the loop again.";
constexpr double inf = std::numeric_limits<double>::infinity();

// A playable mono SD2 channel file as the library holds it; nothing on disk.
AudioTrack channelTrack(const QString &path, int rate = 44100, std::int64_t frames = 1000)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.sd2Format = SD2Metadata{2, rate, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = frames;
    return track;
}

std::shared_ptr<const SD2RecoveredCopy> absentCopy(const QString &path)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(path), 44100, 1000, "2:1:x", 2, 1);
}

AudioTrack pairTrack(AudioTrack left, AudioTrack right)
{
    AudioTrack track = left;
    track.id = QUuid::createUuid();
    track.pair = std::make_shared<const SD2PairAudio>(std::move(left), std::move(right), absentCopy("/absent/pair/S.wav"));
    return track;
}

// A section's bounds and rate; nothing on disk.
struct Bounds {
    std::int64_t start = 0, end = 48000, total = 96000;
    double rate = 48000.0;
};

LoopExportOptions loopOf(const AudioTrack &source, std::int64_t repeats, const Bounds &b = {})
{
    return LoopExportOptions{std::make_shared<const PreparedSection>(source, source.audioURL(), b.start, b.end, b.total,
                                                                     b.rate, std::nullopt),
                             repeats};
}

} // namespace

TEST(AudioExportError, EveryCaseTextAndCode)
{
    const std::pair<Case, QString> texts[] = {
        {Case::sourceDestinationConflict, "The destination is the source audio file. Choose a different name or folder; tamPOD never overwrites the source."},
        {Case::destinationExists, "A file already exists at that destination. Choose a new filename. This version does not replace existing files."},
        {Case::unsupportedSource, "This source cannot be converted by the current exporter. It must contain decodable mono or stereo audio with a valid sample rate and nonzero duration."},
        {Case::tooLarge, QString::fromUtf8("The output or its temporary uncompressed audio exceeds this version\u2019s 4 GB limit. Choose fewer loop repetitions, a lower sample rate or a lower bit depth where available.")},
        {Case::verificationFailed, "The exported audio did not pass verification. No destination file was created."},
        {Case::tempoMetadata, "The BPM metadata could not be written and verified. No destination file was created."},
        {Case::storage, "The output could not be saved. Check available space and write access, then try a new destination."},
        {Case::splitRecoveryUnavailable, "Recovery information for the two channel files could not be saved. No channel files were published. Choose another destination folder and try again."},
        {Case::splitRecoveryPending, "The split-channel export was interrupted and its output could not be safely cleaned up. Keep the destination disk connected and relaunch tamPOD before retrying. Changed or unrelated files will be preserved."},
    };
    int code = 2;
    for (const auto &[kind, text] : texts) {
        EXPECT_EQ(AudioExportError(kind).message(), text);
        EXPECT_EQ(AudioExportError(kind).code(), code++);
    }
    const auto native = AudioExportError::native("writing audio", -50);
    EXPECT_EQ(native.message(), "Audio conversion failed during writing audio (audio error -50). No destination file was created.");
    EXPECT_EQ(AudioExportError::native("opening source", INT32_MIN).message(),
              "Audio conversion failed during opening source (audio error -2147483648). No destination file was created.");
    EXPECT_EQ(std::pair(native.code(), AudioExportError::invalidSettings("").code()), std::pair(1, 0));
    EXPECT_EQ(AudioExportError::invalidSettings("").message(), "");
}

TEST(LoopExportOptions, RepeatLimitsAndSourceMatch)
{
    const AudioTrack track = channelTrack("/music/loop.wav");
    for (std::int64_t count : {1, 999})
        EXPECT_EQ(loopOf(track, count).issues(track), QStringList()) << count;
    for (std::int64_t count : {0, 1000, -1})
        EXPECT_EQ(loopOf(track, count).issues(track), QStringList{countSentence}) << count;
    EXPECT_EQ(loopOf(channelTrack("/music/loop.wav"), 0).issues(track), (QStringList{countSentence, loopSentence}));
    // The same record whose working copy was replaced since the section was rendered.
    AudioTrack recovered = track;
    recovered.recovery = SD2Recovery{absentCopy("/absent/job/Recovered.wav"), std::nullopt};
    EXPECT_EQ(loopOf(track, 1).issues(recovered), QStringList{loopSentence});
    const Bounds mismatches[] = {{0, 0, 96000, 48000.0},      {0, 96001, 96000, 48000.0}, {-1, 48000, 96000, 48000.0},
                                 {0, 48000, 96000, 0},         {0, 48000, 96000, std::nan("")},
                                 {0, 48000, 96000, inf}};
    for (const auto &bounds : mismatches)
        EXPECT_EQ(loopOf(track, 1, bounds).issues(track), QStringList{loopSentence});
    EXPECT_TRUE(loopOf(track, 1, {0, 96000, 96000, 48000.0}).issues(track).isEmpty());
    EXPECT_EQ((LoopExportOptions{nullptr, 1}.issues(track)), QStringList{loopSentence});
}

TEST(LoopExportOptions, DurationText)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (double value : {-0.001, inf, -inf, std::nan("")})
        EXPECT_EQ(LoopExportOptions::durationText(value), QString::fromUtf8("\u2014")) << value;
    const std::pair<double, const char *> texts[] = {{2.5, "2.500"}, {0, "0.000"}, {-0.0, "0.000"}, {1234.5, "1,234.500"}};
    for (const auto &[value, text] : texts)
        EXPECT_EQ(LoopExportOptions::durationText(value), QString(text) + " seconds");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LoopExportOptions::durationText(1234.5), "1.234,500 seconds");
    QLocale::setDefault(previous);
}

TEST(AudioExportRequest, IssuesInOrderAndExtension)
{
    const AudioTrack single = channelTrack("/music/take.wav");
    AudioExportRequest request{single, ExportDefaults(), QUrl::fromLocalFile("/out/take.wav"), std::nullopt, SD2PairOutput::stereo, nullptr};
    EXPECT_TRUE(request.issues().isEmpty());
    EXPECT_NO_THROW(request.checkIssues());
    request.pairOutput = SD2PairOutput::separateMono;
    request.settings.clippingDB = 13;
    request.loop = loopOf(single, 0);
    const QStringList all{"Choose clipping Off or a drive amount from +1 to +12 dB.", countSentence,
                          "Separate mono output requires an SD2 pair."};
    EXPECT_EQ(request.issues(), all);
    try {
        request.checkIssues();
        ADD_FAILURE() << "issues must block the export";
    } catch (const AudioExportError &error) {
        EXPECT_EQ(std::pair(error.kind(), error.message()), std::pair(Case::invalidSettings, all.join('\n')));
    }

    // A pair is judged by its format's options, stored or initial; its output choice adds nothing.
    request = {pairTrack(channelTrack("/music/take.L"), channelTrack("/music/take.R")), ExportDefaults(), QUrl(), std::nullopt, SD2PairOutput::separateMono, nullptr};
    EXPECT_TRUE(request.issues().isEmpty());
    request.settings.encodingByFormat["wav"].channels = ExportChannels::mono;
    EXPECT_EQ(request.issues(), QStringList{"For an SD2 pair, choose Keep source layout or Stereo. Use the pair output choice for separate mono files."});
    request.settings.format = ExportFormat::aiff;
    EXPECT_TRUE(request.issues().isEmpty());
    request.track = pairTrack(channelTrack("/music/take.L"), channelTrack("/music/take.R", 48000));
    EXPECT_EQ(request.issues(), QStringList{"The mono files must have matching sample rates and bit depths. No automatic resampling is performed."});
    for (const auto &[format, extension] : {std::pair(ExportFormat::bwf, "wav"), {ExportFormat::m4aALAC, "m4a"}, {ExportFormat::oggVorbis, "ogg"}}) {
        request.settings.format = format;
        EXPECT_EQ(request.fileExtension(), extension);
    }
}
