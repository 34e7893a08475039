#include "sd2/sd2_pair_service.h"

#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/pcm_file_description.h"

#include "pair_fixture.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace tampod;
using namespace tampod::test;

namespace {

class SD2Pairing : public ::testing::Test {
protected:
    AudioTrack prepare(const AudioTrack &left, const AudioTrack &right, const SD2PairProgress &progress = {},
                       const CancellationToken &token = {})
    {
        return service.prepare(left, right, progress, token).wait();
    }
    QString failure(const AudioTrack &left, const AudioTrack &right, const SD2PairProgress &progress = {},
                    const CancellationToken &token = {})
    {
        try {
            prepare(left, right, progress, token);
        } catch (const Error &error) {
            return error.message();
        }
        return "no error";
    }
    QStringList jobs() const { return jobFolders(store.session()); }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file("store"))};
    SD2PairService service{[this]() -> TemporaryAudioStore & { return store; }};
};

} // namespace

TEST_F(SD2Pairing, LinksIntoAVerifiedStereoCopyThatGoesWithThePair)
{
    const AudioTrack left = sd2Channel(dir, "take.L", 1000, 24, 48000, 1), right = sd2Channel(dir, "take.R", 1000, 24, 48000, 2);
    const QByteArray leftSource = readAll(dir.file("take.L")), leftCopy = readAll(left.audioURL().toLocalFile());
    std::vector<double> reports;
    AudioTrack pair = prepare(left, right, [&](double f) { reports.push_back(f); });

    ASSERT_TRUE(pair.pair);
    EXPECT_EQ(pair.pair->name(), "take");
    EXPECT_EQ(pair.pair->left().id, left.id);
    EXPECT_EQ(pair.pair->right().id, right.id);
    const auto &copy = *pair.pair->copy();
    EXPECT_EQ(copy.url().toLocalFile(), store.session().toLocalFile() + "/jobs/" + jobs().value(0) + "/Stereo.wav");
    EXPECT_EQ(std::tuple(copy.frames(), copy.sampleRate(), copy.sampleBytes(), copy.channels()), std::tuple(1000, 48000, 3, 2));
    EXPECT_FALSE(QUuid::fromString(copy.pcmDigest()).isNull());
    const auto written = PCMFileDescription::read(copy.url().toLocalFile());
    EXPECT_EQ(std::tuple(written.frames, written.channels, written.sampleRate, written.bitsPerSample), std::tuple(1000, 2, 48000, 24));
    EXPECT_EQ(reports, std::vector<double>{1.0});

    EXPECT_NE(pair.id, left.id);
    EXPECT_EQ(pair.projectedURL(), left.url());
    EXPECT_EQ(pair.url(), left.url());
    EXPECT_EQ(pair.access, left.access); // the same lease object
    EXPECT_DOUBLE_EQ(pair.duration, 1000.0 / 48000.0);
    EXPECT_EQ(pair.importedFormat, AudioSourceFormat());
    EXPECT_FALSE(pair.recovery || pair.metadataAudio || pair.rexAudio || pair.sd2Format || pair.importedSD2Frames);
    EXPECT_EQ(pair.audioURL(), copy.url());
    EXPECT_EQ(readAll(dir.file("take.L")), leftSource);
    EXPECT_EQ(readAll(left.audioURL().toLocalFile()), leftCopy);

    AudioTrack kept = pair; // a copy of the record keeps the working copy alive
    pair = AudioTrack();
    EXPECT_EQ(jobs().size(), 1);
    kept = AudioTrack();
    EXPECT_TRUE(jobs().isEmpty());
}

TEST_F(SD2Pairing, TempoAndNoteRules)
{
    using Tempo = std::optional<double>;
    const struct {
        Tempo leftTag, rightTag, leftDetected, rightDetected;
        Tempo bpm, detected, inherited;
    } tempos[] = {
        {120, 120, {}, {}, 120, {}, {}},
        {120, 121, {}, {}, {}, {}, {}},
        {{}, {}, 98.5, 98.5, {}, 98.5, {}},
        {120, {}, {}, 120, {}, {}, 120},   // the effective tempos agree
        {0, 0, 100, 100, {}, {}, 100},     // present but unusable tags block the detected rule
        {{}, {}, 98.5, 99, {}, {}, {}},
    };
    const std::tuple<std::optional<QString>, std::optional<QString>, std::optional<QString>> notes[] = {
        {"tempo from sdDD", {}, "take.L: tempo from sdDD"},
        {"a", "b", "take.L: a\ntake.R: b"},
        {{}, {}, {}},
    };
    AudioTrack left = sd2Channel(dir, "take.L", 10), right = sd2Channel(dir, "take.R", 10, 16, 44100, 2);
    for (size_t i = 0; i < std::size(tempos); ++i) {
        const auto &t = tempos[i];
        const auto &[leftNote, rightNote, note] = notes[i % std::size(notes)];
        std::tie(left.bpm, right.bpm, left.detectedBPM, right.detectedBPM) = std::tie(t.leftTag, t.rightTag, t.leftDetected, t.rightDetected);
        std::tie(left.sd2MetadataNote, right.sd2MetadataNote) = std::tie(leftNote, rightNote);
        const AudioTrack pair = prepare(left, right);
        EXPECT_EQ(std::tuple(pair.bpm, pair.detectedBPM, pair.inheritedBPM), std::tuple(t.bpm, t.detected, t.inherited)) << i;
        EXPECT_EQ(pair.sd2MetadataNote, note) << i;
    }
}

TEST_F(SD2Pairing, FailuresLeaveNoWorkFolder)
{
    AudioTrack left = sd2Channel(dir, "take.L", 8192 * 3), right = sd2Channel(dir, "take.R", 8192 * 3, 16, 44100, 2);
    AudioTrack longer = right;
    longer.metadataAudio.reset();
    longer.importedSD2Frames = 8192 * 3 + 1;
    EXPECT_EQ(failure(left, longer), "Left and right must have the same exact audio length (sample-frame count). No "
                                     "trimming or padding is applied.");
    EXPECT_TRUE(jobs().isEmpty());

    // The right copy says 1,000 frames but holds 1,001: the join sees the lengths differ.
    const AudioTrack l = sd2Channel(dir, "grown.L", 1000), r = sd2Channel(dir, "grown.R", 1001, 16, 44100, 2, 1000);
    EXPECT_EQ(failure(l, r), "Left and right must be mono with identical sample rates and frame counts. No trimming, "
                             "padding or alignment was applied.");
    EXPECT_TRUE(jobs().isEmpty());

    CancellationSource source;
    int reports = 0;
    EXPECT_EQ(failure(left, right, [&](double) { ++reports, source.cancel(); }, source.token()),
              Cancelled().message());
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(jobs().isEmpty());
}
