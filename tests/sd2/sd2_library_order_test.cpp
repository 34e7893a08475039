#include "sd2/sd2_library_order.h"

#include "library/sd2_pair_audio.h"

#include "pair_fixture.h"

#include <gtest/gtest.h>

using namespace tampod;
using tampod::test::channelRecord;

namespace {

AudioTrack plain(const QString &path)
{
    AudioTrack track = channelRecord(path);
    track.sd2Format.reset();
    return track;
}

QStringList paths(const QList<AudioTrack> &tracks)
{
    QStringList result;
    for (const AudioTrack &track : tracks)
        result << track.projectedURL().path();
    return result;
}

} // namespace

TEST(SD2LibraryOrder, GroupsLeftBeforeRightWhereTheFirstMemberStood)
{
    AudioTrack linked = channelRecord("/a/Linked.R");
    linked.pair = std::make_shared<const SD2PairAudio>(linked, linked, nullptr);
    AudioTrack pending = plain("/a/Take.l"); // SD2 by its recovery record
    pending.recovery = SD2Recovery{};
    const std::pair<QList<AudioTrack>, QStringList> cases[] = {
        {{channelRecord("/a/Take.R.sd2"), plain("/a/Other.wav"), channelRecord("/a/Take.L.sd2")}, {"/a/Take.L.sd2", "/a/Take.R.sd2", "/a/Other.wav"}},
        {{channelRecord("/1/Take.R.sd2"), channelRecord("/2/Take.L.sd2")}, {"/1/Take.R.sd2", "/2/Take.L.sd2"}},
        {{channelRecord("/a/Take.R.sd2"), channelRecord("/a/Take.L.sd2"), pending}, {"/a/Take.L.sd2", "/a/Take.l", "/a/Take.R.sd2"}},
        {{channelRecord("/a/take.R.sd2"), channelRecord("/a/Take.L.sd2")}, {"/a/take.R.sd2", "/a/Take.L.sd2"}},
        {{plain("/a/X.R"), linked, channelRecord("/a/Linked.L"), plain("/a/X.L")}, {"/a/X.R", "/a/Linked.R", "/a/Linked.L", "/a/X.L"}},
        {{channelRecord("/a/T.R-export-2.sd2"), channelRecord("/a/T.R"), channelRecord("/a/T.L-export-2.sd2")},
         {"/a/T.L-export-2.sd2", "/a/T.R-export-2.sd2", "/a/T.R"}},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(paths(SD2LibraryOrder::grouped(input)), expected) << paths(input).join(' ').toStdString();
}

TEST(SD2LibraryOrder, LengthWarningsOnlyForKnownUnequalNewPairs)
{
    const AudioTrack left = channelRecord("/a/take.L", 1000000), right = channelRecord("/a/take.R", 1000001);
    const auto warning = SD2LibraryOrder::importLengthWarning({plain("/a/x.wav"), right, left}, {left, right});
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->title, QString::fromUtf8("SD2 channel lengths don\u2019t match"));
    EXPECT_EQ(warning->message, "Both files were loaded next to each other for individual listening. They cannot form a "
                                "stereo pair. Lengths for recovered files use the displayed assumptions.");
    EXPECT_EQ(warning->details, QStringList{"take.R: 1000001 frames at 44100 Hz; take.L: 1000000 frames at 44100 Hz. "
                                            "These channels cannot be linked unless their lengths and sample rates match."});
    EXPECT_FALSE(SD2LibraryOrder::importLengthWarning({left, right}, {plain("/a/x.wav")}));

    AudioTrack unknown = channelRecord("/a/take.R", std::nullopt); // recovery pending, nothing chosen
    unknown.sd2Format.reset();
    unknown.recovery = SD2Recovery{};
    AudioTrack requested = unknown; // a requested rate counts while no copy exists
    requested.recovery->requested = SD2Metadata{2, 48000, 1, std::nullopt, std::nullopt};
    requested.importedSD2Frames = 1000000;
    const std::pair<QList<AudioTrack>, qsizetype> cases[] = {
        {{left, channelRecord("/a/take.R", 1000000)}, 0},
        {{left, channelRecord("/a/take.R", 1000000, 48000)}, 1},
        {{left, right, channelRecord("/a/take.L.sd2")}, 0}, // three members
        {{left, channelRecord("/a/take.L.sd2", 1)}, 0},     // one channel twice
        {{left, unknown}, 0},
        {{left, requested}, 1},
        {{left, right, channelRecord("/b/take.L", 1), channelRecord("/b/take.R", 2)}, 2},
    };
    for (const auto &[library, count] : cases) {
        const auto all = SD2LibraryOrder::importLengthWarning(library, library);
        EXPECT_EQ(all ? all->details.size() : 0, count) << paths(library).join(' ').toStdString();
    }
}
