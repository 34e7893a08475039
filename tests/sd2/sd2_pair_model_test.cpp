#include "sd2/sd2_pair_model.h"

#include "library/sd2_pair_audio.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

const QString different = "Choose two different files.";
const QString unmatched = "Choose matching .L and .R files with the same recording name from the same folder. "
                          "Unrelated recordings cannot be paired.";
const QString unplayable = "Choose two playable mono SD2 files. Recover missing parameters before pairing.";
const QString formats = "The mono files must have matching sample rates and bit depths. No automatic resampling is "
                        "performed.";
const QString length = "Left and right must have the same exact audio length (sample-frame count). No trimming or "
                       "padding is applied.";

// A playable mono SD2 channel file as the library holds it; nothing on disk.
AudioTrack channel(const QString &path, int sampleBytes = 2, int rate = 44100, std::optional<std::int64_t> frames = 1000)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.sd2Format = SD2Metadata{sampleBytes, rate, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = frames;
    return track;
}

std::shared_ptr<const SD2RecoveredCopy> absentCopy(int channels, std::int64_t frames = 1000)
{
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/job/Recovered.wav"), 44100, frames,
                                                    "x", 2, channels);
}

} // namespace

TEST(SD2PairModel, FourteenChecksInOrder)
{
    const AudioTrack left = channel("/m/take.L"), right = channel("/m/take.R");
    const auto with = [](AudioTrack track, const std::function<void(AudioTrack &)> &change) {
        change(track);
        return track;
    };
    AudioTrack sameID = right;
    sameID.id = left.id;
    AudioTrack sameURL = channel("/m/take.L");
    AudioTrack asPair = with(right, [&](AudioTrack &t) { t.pair = std::make_shared<const SD2PairAudio>(left, right, absentCopy(2)); });
    const AudioTrack pending = with(right, [](AudioTrack &t) { t.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}}; });
    const AudioTrack recovered = with(pending, [](AudioTrack &t) { t.recovery->copy = absentCopy(1); });
    const AudioTrack noParameters = with(right, [](AudioTrack &t) { t.sd2Format.reset(); });
    const AudioTrack stereo = with(right, [](AudioTrack &t) { t.sd2Format->channels = 2; });

    const struct {
        int check;
        AudioTrack l, r;
        std::optional<QString> expected;
    } cases[] = {
        {0, left, right, std::nullopt},
        {1, left, sameID, different},
        {1, left, left, different},
        {2, left, sameURL, different},
        {3, channel("/m/take.wav"), right, unmatched},
        {4, left, channel("/m/take.R.wav"), unmatched},
        {5, right, left, unmatched}, // never swapped
        {6, left, channel("/m/take.L-export"), unmatched},
        {7, left, channel("/m/Take.R"), unmatched}, // stems compare case-sensitively
        {7, channel("/m/take.L-export-2.sd2"), right, unmatched},
        {8, left, channel("/other/take.R"), unmatched},
        {9, left, asPair, unplayable},
        {10, left, pending, unplayable},
        {10, left, recovered, std::nullopt}, // once its copy exists
        {11, left, noParameters, unplayable},
        {12, left, stereo, unplayable},
        {13, left, channel("/m/take.R", 3), formats},
        {13, left, channel("/m/take.R", 2, 48000), formats},
        {14, left, channel("/m/take.R", 2, 44100, 1001), length},
        {14, left, channel("/m/take.R", 2, 44100, std::nullopt), length},
        {14, channel("/m/take.L", 2, 44100, 0), channel("/m/take.R", 2, 44100, 0), length},
        {14, channel("/m/take.L", 2, 44100, 1000000), channel("/m/take.R", 2, 44100, 1000001), length},
        {0, channel("/m/take.L.sd2"), channel("/m/take.R.SD2"), std::nullopt},
    };
    for (const auto &[check, l, r, expected] : cases)
        EXPECT_EQ(SD2PairModel::issue(l, r), expected) << "check " << check;
}

TEST(SD2PairModel, SuggestsTheOneLinkablePartner)
{
    const AudioTrack left = channel("/m/take.L"), right = channel("/m/take.R"), elsewhere = channel("/n/take.R");
    const AudioTrack shorter = channel("/m/take.R.sd2", 2, 44100, 999), twin = channel("/m/take.R.sd2");
    const auto partner = [](const AudioTrack &track, const QList<AudioTrack> &tracks) {
        const auto found = SD2PairModel::suggestedPartner(track, tracks);
        return found ? found->projectedURL().path() : QString();
    };
    EXPECT_EQ(partner(left, {left, elsewhere, right}), "/m/take.R");
    EXPECT_EQ(partner(right, {right, left}), "/m/take.L");
    EXPECT_EQ(partner(left, {right, shorter}), "/m/take.R"); // the shorter one cannot be linked
    EXPECT_EQ(partner(left, {right, twin}), "");             // ambiguous
    EXPECT_EQ(partner(channel("/m/take.wav"), {left, right}), "");
    EXPECT_EQ(partner(left, {left, channel("/m/Take.R")}), "");
}
