#include "export/audio_export_request.h"
#include "export/sd2_pair_issue.h"
#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <functional>
#include <limits>

using namespace tampod;
using Case = AudioExportError::Case;

namespace {

const QString countSentence = "Enter a repeat count from 1 to 999.";
const QString loopSentence = "The loop selection does not match this source. Close Export and select the loop again.";
const QString monoPairSentence =
    "For an SD2 pair, choose Keep source layout or Stereo. Use the pair output choice for separate mono files.";
const QString separateSentence = "Separate mono output requires an SD2 pair.";

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

std::shared_ptr<const SD2RecoveredCopy> absentCopy(const QString &path, int channels)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(path), 44100, 1000, "2:1:x", 2, channels);
}

AudioTrack pairTrack(AudioTrack left, AudioTrack right)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = left._url;
    track.pair = std::make_shared<const SD2PairAudio>(std::move(left), std::move(right),
                                                      absentCopy("/nonexistent/pair/Stereo.wav", 2));
    return track;
}

LoopExportOptions loopOf(const AudioTrack &source, std::int64_t repeats,
                         const std::function<void(PreparedSection &)> &change = {})
{
    PreparedSection section{source, 0, 48000, 96000, 48000.0};
    if (change)
        change(section);
    return LoopExportOptions{std::make_shared<const PreparedSection>(section), repeats};
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
    for (const auto &[kind, text] : texts) {
        const AudioExportError error(kind);
        EXPECT_EQ(error.message(), text);
        EXPECT_EQ(error.code(), static_cast<int>(kind));
    }
    EXPECT_EQ(static_cast<int>(Case::storage), 8);
    const auto native = AudioExportError::native("writing audio", -50);
    EXPECT_EQ(native.message(), "Audio conversion failed during writing audio (audio error -50). No destination file was created.");
    EXPECT_EQ(native.code(), 1);
    EXPECT_EQ(AudioExportError::native("opening source", std::numeric_limits<std::int32_t>::min()).message(),
              "Audio conversion failed during opening source (audio error -2147483648). No destination file was created.");
    EXPECT_EQ(AudioExportError::invalidSettings("").message(), "");
    EXPECT_EQ(AudioExportError::invalidSettings("a\nb").code(), 0);
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
    recovered.recovery = SD2Recovery{absentCopy("/nonexistent/job/Recovered.wav", 1), std::nullopt};
    EXPECT_EQ(loopOf(track, 1).issues(recovered), QStringList{loopSentence});

    const std::pair<const char *, std::function<void(PreparedSection &)>> mismatches[] = {
        {"empty", [](PreparedSection &s) { s.endFrame = s.startFrame; }},
        {"past the end", [](PreparedSection &s) { s.endFrame = s.totalFrames + 1; }},
        {"negative start", [](PreparedSection &s) { s.startFrame = -1; }},
        {"rate 0", [](PreparedSection &s) { s.sampleRate = 0; }},
        {"rate NaN", [](PreparedSection &s) { s.sampleRate = std::nan(""); }},
        {"rate infinite", [](PreparedSection &s) { s.sampleRate = std::numeric_limits<double>::infinity(); }},
    };
    for (const auto &[what, change] : mismatches)
        EXPECT_EQ(loopOf(track, 1, change).issues(track), QStringList{loopSentence}) << what;
    EXPECT_TRUE(loopOf(track, 1, [](PreparedSection &s) { s.endFrame = s.totalFrames; }).issues(track).isEmpty());
    EXPECT_EQ((LoopExportOptions{nullptr, 1}.issues(track)), QStringList{loopSentence});
}

TEST(LoopExportOptions, DurationText)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    for (double value : {-0.001, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(LoopExportOptions::durationText(value), QString::fromUtf8("\u2014")) << value;
    EXPECT_EQ(LoopExportOptions::durationText(2.5), "2.500 seconds");
    EXPECT_EQ(LoopExportOptions::durationText(0), "0.000 seconds");
    EXPECT_EQ(LoopExportOptions::durationText(-0.0), "0.000 seconds");
    EXPECT_EQ(LoopExportOptions::durationText(1234.5), "1,234.500 seconds");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(LoopExportOptions::durationText(1234.5), "1.234,500 seconds");
    QLocale::setDefault(previous);
}

TEST(AudioExportRequest, IssuesInOrderAndExtension)
{
    const AudioTrack single = channelTrack("/music/take.wav");
    AudioExportRequest request{single, ExportDefaults(), QUrl::fromLocalFile("/out/take.wav"), std::nullopt,
                               SD2PairOutput::stereo, nullptr};
    EXPECT_TRUE(request.issues().isEmpty());
    EXPECT_NO_THROW(request.checkIssues());

    request.pairOutput = SD2PairOutput::separateMono;
    request.settings.clippingDB = 13;
    request.loop = loopOf(single, 0);
    const QStringList all{"Choose clipping Off or a drive amount from +1 to +12 dB.", countSentence, separateSentence};
    EXPECT_EQ(request.issues(), all);
    try {
        request.checkIssues();
        ADD_FAILURE() << "issues must block the export";
    } catch (const AudioExportError &error) {
        EXPECT_EQ(error.kind(), Case::invalidSettings);
        EXPECT_EQ(error.message(), all.join('\n'));
    }

    // A pair is judged by its format's options, stored or initial; its output choice adds nothing.
    request = AudioExportRequest{pairTrack(channelTrack("/music/take.L"), channelTrack("/music/take.R")),
                                 ExportDefaults(), {}, std::nullopt, SD2PairOutput::separateMono, nullptr};
    EXPECT_TRUE(request.issues().isEmpty());
    EncodingOptions mono;
    mono.channels = ExportChannels::mono;
    request.settings.encodingByFormat["wav"] = mono;
    EXPECT_EQ(request.issues(), QStringList{monoPairSentence});
    request.settings.format = ExportFormat::aiff;
    EXPECT_TRUE(request.issues().isEmpty());
    request.track = pairTrack(channelTrack("/music/take.L"), channelTrack("/music/take.R", 48000));
    EXPECT_EQ(request.issues(), QStringList{"The mono files must have matching sample rates and bit depths. No automatic resampling is performed."});

    const std::pair<ExportFormat, const char *> extensions[] = {
        {ExportFormat::bwf, "wav"}, {ExportFormat::m4aALAC, "m4a"}, {ExportFormat::oggVorbis, "ogg"}, {ExportFormat::sd2, "sd2"}};
    for (const auto &[format, extension] : extensions) {
        request.settings.format = format;
        EXPECT_EQ(request.fileExtension(), extension);
    }
}

TEST(AudioExportRequest, PairValidation)
{
    const QString different = "Choose two different files.";
    const QString unmatched = "Choose matching .L and .R files with the same recording name from the same folder. Unrelated recordings cannot be paired.";
    const QString unplayable = "Choose two playable mono SD2 files. Recover missing parameters before pairing.";
    const QString length = "Left and right must have the same exact audio length (sample-frame count). No trimming or padding is applied.";
    const AudioTrack left = channelTrack("/music/take.L");
    const AudioTrack right = channelTrack("/music/take.R");
    AudioTrack pending = right;
    pending.recovery = SD2Recovery{nullptr, std::nullopt};
    AudioTrack stereo = right;
    stereo.sd2Format->channels = 2;

    const std::tuple<const char *, AudioTrack, AudioTrack, std::optional<QString>> cases[] = {
        {"a pair", left, right, std::nullopt},
        {"one track twice", left, left, different},
        {"swapped", right, left, unmatched},
        {"stems differ in case", left, channelTrack("/music/Take.R"), unmatched},
        {"other folder", left, channelTrack("/other/take.R"), unmatched},
        {"recovery pending", left, pending, unplayable},
        {"stereo", left, stereo, unplayable},
        {"lengths differ", channelTrack("/music/take.L", 44100, 1000000), channelTrack("/music/take.R", 44100, 1000001), length},
        {"no frames", channelTrack("/music/take.L", 44100, 0), channelTrack("/music/take.R", 44100, 0), length},
    };
    for (const auto &[what, l, r, expected] : cases)
        EXPECT_EQ(sd2PairIssue(l, r), expected) << what;
}
