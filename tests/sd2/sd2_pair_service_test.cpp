#include "sd2/sd2_pair_service.h"


#include "pair_fixture.h"

#include <gtest/gtest.h>

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
        return "none";
    }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file("store"))};
    SD2PairService service{[this]() -> TemporaryAudioStore & { return store; }};
};

} // namespace

TEST_F(SD2Pairing, TempoAndNoteRules)
{
    using Tempo = std::optional<double>;
    using Note = std::optional<QString>;
    const std::tuple<Tempo, Tempo, Tempo, Tempo, Tempo, Tempo, Tempo, Note, Note, Note> cases[] = {
        // tags, detected, then the pair's bpm, detected and inherited; notes and the pair's note
        {120, 120, {}, {}, 120, {}, {}, "from sdDD", {}, "take.L: from sdDD"},
        {120, 121, {}, {}, {}, {}, {}, "a", "b", "take.L: a\ntake.R: b"},
        {{}, {}, 98.5, 98.5, {}, 98.5, {}, {}, {}, {}},
        {120, {}, {}, 120, {}, {}, 120, {}, "b", "take.R: b"}, // the effective tempos agree
        {0, 0, 100, 100, {}, {}, 100, {}, {}, {}},             // present unusable tags block the detected rule
        {{}, {}, 98.5, 99, {}, {}, {}, {}, {}, {}},
    };
    AudioTrack left = sd2Channel(dir, "take.L", 10), right = sd2Channel(dir, "take.R", 10, 16, 44100, 2);
    for (const auto &[lt, rt, ld, rd, bpm, detected, inherited, ln, rn, note] : cases) {
        std::tie(left.bpm, right.bpm, left.detectedBPM, right.detectedBPM, left.sd2MetadataNote, right.sd2MetadataNote) =
            std::tie(lt, rt, ld, rd, ln, rn);
        const AudioTrack pair = prepare(left, right);
        EXPECT_EQ(std::tuple(pair.bpm, pair.detectedBPM, pair.inheritedBPM, pair.sd2MetadataNote),
                  std::tuple(bpm, detected, inherited, note));
    }
    EXPECT_TRUE(jobFolders(store.session()).isEmpty()); // each copy went with its pair
}

TEST_F(SD2Pairing, FailuresLeaveNoWorkFolder)
{
    // The right copy says 1,000 frames but holds 1,001: the join sees the lengths differ.
    const AudioTrack l = sd2Channel(dir, "grown.L", 1000), r = sd2Channel(dir, "grown.R", 1001, 16, 44100, 2, 1000);
    EXPECT_EQ(failure(l, r), "Left and right must be mono with identical sample rates and frame counts. No trimming, "
                             "padding or alignment was applied.");
    EXPECT_EQ(failure(r, l), "Choose matching .L and .R files with the same recording name from the same folder. "
                             "Unrelated recordings cannot be paired.");

    const AudioTrack left = sd2Channel(dir, "take.L", 8192 * 3), right = sd2Channel(dir, "take.R", 8192 * 3);
    CancellationSource source;
    int reports = 0;
    EXPECT_EQ(failure(left, right, [&](double) { ++reports, source.cancel(); }, source.token()), Cancelled().message());
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(jobFolders(store.session()).isEmpty());
}
