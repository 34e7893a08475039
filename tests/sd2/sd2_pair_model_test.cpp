#include "sd2/sd2_pair_model.h"

#include "library/sd2_pair_audio.h"

#include "pair_fixture.h"

#include <gtest/gtest.h>

using namespace tampod;
using tampod::test::channelRecord;

TEST(SD2PairModel, FourteenChecksInOrder)
{
    const QString different = "Choose two different files.";
    const QString unmatched = "Choose matching .L and .R files with the same recording name from the same folder. "
                              "Unrelated recordings cannot be paired.";
    const QString unplayable = "Choose two playable mono SD2 files. Recover missing parameters before pairing.";
    const QString formats = "The mono files must have matching sample rates and bit depths. No automatic resampling "
                            "is performed.";
    const QString length = "Left and right must have the same exact audio length (sample-frame count). No trimming "
                           "or padding is applied.";
    const AudioTrack left = channelRecord("/m/take.L"), right = channelRecord("/m/take.R");
    AudioTrack sameID = right, linked = right, pending = right, recovered = right, unset = right, stereo = right;
    sameID.id = left.id;
    const auto copy = std::make_shared<const SD2RecoveredCopy>(QUrl(), 44100, 1000, "x", 2, 1);
    linked.pair = std::make_shared<const SD2PairAudio>(left, right, copy);
    pending.recovery = SD2Recovery{nullptr, SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}};
    recovered.recovery = SD2Recovery{copy, std::nullopt};
    unset.sd2Format.reset();
    stereo.sd2Format->channels = 2;
    const std::tuple<int, AudioTrack, AudioTrack, std::optional<QString>> cases[] = {
        {0, left, right, std::nullopt},
        {1, left, sameID, different},
        {2, left, channelRecord("/m/take.L"), different},
        {3, channelRecord("/m/take.wav"), right, unmatched},
        {4, left, channelRecord("/m/take.R.wav"), unmatched},
        {5, right, left, unmatched}, // never swapped
        {6, left, channelRecord("/m/take.L-export"), unmatched},
        {7, left, channelRecord("/m/Take.R"), unmatched}, // stems compare case-sensitively
        {7, channelRecord("/m/take.L-export-2.sd2"), right, unmatched},
        {8, left, channelRecord("/other/take.R"), unmatched},
        {9, left, linked, unplayable},
        {10, left, pending, unplayable},
        {10, left, recovered, std::nullopt}, // once its copy exists
        {11, left, unset, unplayable},
        {12, left, stereo, unplayable},
        {13, left, channelRecord("/m/take.R", 1000, 44100, 3), formats},
        {13, left, channelRecord("/m/take.R", 1000, 48000), formats},
        {14, channelRecord("/m/take.L", 1000000), channelRecord("/m/take.R", 1000001), length},
        {14, left, channelRecord("/m/take.R", std::nullopt), length},
        {14, channelRecord("/m/take.L", 0), channelRecord("/m/take.R", 0), length},
    };
    for (const auto &[check, l, r, expected] : cases)
        EXPECT_EQ(SD2PairModel::issue(l, r), expected) << "check " << check;
}

TEST(SD2PairModel, SuggestsTheOneLinkablePartner)
{
    const AudioTrack left = channelRecord("/m/take.L"), right = channelRecord("/m/take.R");
    const auto partner = [](const AudioTrack &track, const QList<AudioTrack> &tracks) {
        const auto found = SD2PairModel::suggestedPartner(track, tracks);
        return found ? found->projectedURL().path() : QString();
    };
    EXPECT_EQ(partner(left, {left, channelRecord("/n/take.R"), channelRecord("/m/take.R.sd2", 999), right}), "/m/take.R");
    EXPECT_EQ(partner(right, {right, left}), "/m/take.L");
    EXPECT_EQ(partner(left, {right, channelRecord("/m/take.R.sd2")}), ""); // ambiguous
    EXPECT_EQ(partner(channelRecord("/m/take.wav"), {left, right}), "");
}
