#include "sd2/sd2_library_order.h"

#include "library/sd2_pair_audio.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

// A library record as the importer makes it for an SD2 file with parameters; nothing on disk.
AudioTrack sd2(const QString &path, std::optional<std::int64_t> frames = 441000, int rate = 44100)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.sd2Format = SD2Metadata{2, rate, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = frames;
    return track;
}

AudioTrack plain(const QString &path)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    return track;
}

QStringList paths(const QList<AudioTrack> &tracks)
{
    QStringList result;
    for (const AudioTrack &track : tracks)
        result << track.projectedURL().path();
    return result;
}

QSet<QUuid> idsOf(std::initializer_list<AudioTrack> tracks)
{
    QSet<QUuid> ids;
    for (const AudioTrack &track : tracks)
        ids.insert(track.id);
    return ids;
}

} // namespace

TEST(SD2LibraryOrder, GroupsLeftBeforeRightWhereTheFirstMemberStood)
{
    AudioTrack pair = sd2("/a/Linked.R");
    pair.pair = std::make_shared<const SD2PairAudio>(sd2("/a/Linked.L"), sd2("/a/Linked.R"),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile("/absent/S.wav"), 44100, 1, "x", 2, 2));
    AudioTrack pending = plain("/a/Take.l"); // no parameters yet: SD2 by its recovery record
    pending.recovery = SD2Recovery{};
    const struct {
        QList<AudioTrack> input;
        QStringList expected;
    } cases[] = {
        {{sd2("/a/Take.R.sd2"), plain("/a/Other.wav"), sd2("/a/Take.L.sd2")},
         {"/a/Take.L.sd2", "/a/Take.R.sd2", "/a/Other.wav"}},
        {{plain("/a/A.wav"), sd2("/1/Take.L.sd2"), sd2("/2/Take.R.sd2")}, {"/a/A.wav", "/1/Take.L.sd2", "/2/Take.R.sd2"}},
        {{sd2("/a/Take.R.sd2"), sd2("/a/Take.L.sd2"), pending}, {"/a/Take.L.sd2", "/a/Take.l", "/a/Take.R.sd2"}},
        {{sd2("/a/take.R.sd2"), sd2("/a/Take.L.sd2")}, {"/a/take.R.sd2", "/a/Take.L.sd2"}},
        // Not SD2 (no record, no sd2 extension), or already a linked pair: never regrouped.
        {{plain("/a/X.R"), pair, sd2("/a/Linked.L.sd2"), plain("/a/X.L")},
         {"/a/X.R", "/a/Linked.R", "/a/Linked.L.sd2", "/a/X.L"}},
        {{sd2("/a/T.R-export-2.sd2"), sd2("/a/T.R.sd2"), sd2("/a/T.L-export-2.sd2")},
         {"/a/T.L-export-2.sd2", "/a/T.R-export-2.sd2", "/a/T.R.sd2"}},
        {{}, {}},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(paths(SD2LibraryOrder::grouped(input)), expected) << paths(input).join(' ').toStdString();
}

TEST(SD2LibraryOrder, LengthWarningsOnlyForKnownUnequalNewPairs)
{
    const AudioTrack left = sd2("/a/Take.L.sd2", 441000), right = sd2("/a/Take.R.sd2", 441001);
    const QString sentence = "Take.L.sd2: 441000 frames at 44100 Hz; Take.R.sd2: 441001 frames at 44100 Hz. These "
                             "channels cannot be linked unless their lengths and sample rates match.";
    EXPECT_EQ(SD2LibraryOrder::lengthWarnings({right, left}, idsOf({right})), QStringList{
        "Take.R.sd2: 441001 frames at 44100 Hz; Take.L.sd2: 441000 frames at 44100 Hz. These channels cannot be "
        "linked unless their lengths and sample rates match."});
    EXPECT_EQ(SD2LibraryOrder::lengthWarnings({left, right}, idsOf({left})), QStringList{sentence});
    EXPECT_TRUE(SD2LibraryOrder::lengthWarnings({left, right}, {}).isEmpty());

    AudioTrack unknown = sd2("/a/Take.R.sd2", std::nullopt); // recovery pending without parameters
    unknown.sd2Format.reset();
    unknown.recovery = SD2Recovery{};
    AudioTrack requested = unknown; // the requested rate counts while no copy exists
    requested.recovery->requested = SD2Metadata{2, 48000, 1, std::nullopt, std::nullopt};
    requested.importedSD2Frames = 441000;
    const struct {
        QList<AudioTrack> library;
        int warnings;
    } cases[] = {
        {{left, sd2("/a/Take.R.sd2", 441000)}, 0},
        {{left, sd2("/a/Take.R.sd2", 441000, 48000)}, 1},
        {{left, right, sd2("/a/Take.L")}, 0},                 // three members
        {{left, sd2("/a/Take.L", 1)}, 0},                     // two of one channel
        {{left, unknown}, 0},
        {{left, requested}, 1},
        {{left, right, sd2("/b/Take.L.sd2", 1), sd2("/b/Take.R.sd2", 2)}, 2},
    };
    for (const auto &[library, count] : cases) {
        QSet<QUuid> all;
        for (const AudioTrack &track : library)
            all.insert(track.id);
        EXPECT_EQ(SD2LibraryOrder::lengthWarnings(library, all).size(), count) << paths(library).join(' ').toStdString();
    }
}

TEST(SD2LibraryOrder, ImportWarningOfAMillionFramesAndOne)
{
    const AudioTrack left = sd2("/a/take.L", 1000000), right = sd2("/a/take.R", 1000001), other = plain("/a/x.wav");
    const auto warning = SD2LibraryOrder::importLengthWarning({other, left, right}, {left, right});
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->title, QString::fromUtf8("SD2 channel lengths don\u2019t match"));
    EXPECT_EQ(warning->message, "Both files were loaded next to each other for individual listening. They cannot form a "
                                "stereo pair. Lengths for recovered files use the displayed assumptions.");
    EXPECT_EQ(warning->details, QStringList{"take.L: 1000000 frames at 44100 Hz; take.R: 1000001 frames at 44100 Hz. "
                                            "These channels cannot be linked unless their lengths and sample rates match."});
    EXPECT_FALSE(SD2LibraryOrder::importLengthWarning({other, left, right}, {other}));
}
