#include "player/section_loop_coordinator.h"

#include "playback/section_audio_preparer.h"
#include "playback/waveform_fixtures.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

// Switches the loop on (or prepares range) with the real preparer and waits for the section.
std::shared_ptr<const PreparedSection> prepareLoop(const AudioTrack &track, std::optional<SectionRange> range = {})
{
    SectionLoopCoordinator loop(std::make_shared<SectionAudioPreparer>());
    std::shared_ptr<const PreparedSection> section;
    QString failure;
    loop.completed = [&](std::shared_ptr<const PreparedSection> s) { section = std::move(s); };
    loop.failed = [&](const QString &message) { failure = message; };
    loop.prepare(track, range.value_or(SectionRange::initial(track.duration)), false);
    EXPECT_TRUE(test::pumpUntil([&] { return section || !failure.isEmpty(); }));
    EXPECT_EQ(failure, QString());
    EXPECT_FALSE(loop.isPreparing());
    EXPECT_EQ(loop.progress(), 1.0);
    return section;
}

} // namespace

TEST(SectionLoopRendering, TwoMinuteWavLoopHoldsExactlyItsFrames)
{
    test::testJobsFolder();
    test::TempDir dir;
    const QString path = dir.file("two-minutes.wav");
    test::writeWav(path, 2, test::signal(44100 * 120, 2), 44100, 16);
    auto section = prepareLoop(test::trackOf(path, 120));
    ASSERT_TRUE(section);
    EXPECT_EQ(section->startFrame(), 1984500);
    EXPECT_EQ(section->endFrame(), 3307500);
    EXPECT_EQ(section->url().fileName(), "section.caf");
    EXPECT_EQ(AudioFileReader(section->url().toLocalFile()).length(), 1323000);
    const std::vector<float> rendered = test::readFrames(section->url().toLocalFile(), 0, 1323001);
    ASSERT_EQ(rendered.size(), 1323000u * 2);
    EXPECT_TRUE(rendered == test::readFrames(path, 1984500, 1323000)) << "sample by sample";
    const QString folder = section->directory()->toLocalFile();
    section.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(SectionLoopRendering, CompressedSourcesNearTheirEnds)
{
    test::testJobsFolder();
    test::TempDir dir;
    const std::pair<const char *, QStringList> formats[] = {
        {"tone.flac", {"-c:a", "flac"}},
        {"tone.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"}}, // with its Xing/LAME header
        // Without noise substitution: its noise comes from decoder state, so after a seek it
        // differs from a decode from the start by design.
        {"tone.m4a", {"-c:a", "aac", "-b:a", "128k", "-aac_pns", "0"}},
    };
    for (const auto &[name, codec] : formats) {
        SCOPED_TRACE(name);
        const QString path = dir.file(name);
        test::makeTone(path, 6.3, codec);
        if (path.endsWith(".mp3"))
            ASSERT_TRUE(test::readAll(path).contains("LAME"));
        AudioFileReader source(path);
        const std::int64_t length = source.length();
        const std::vector<float> whole = test::readFrames(path, 0, length + 1);
        ASSERT_EQ(std::int64_t(whole.size()), length * 2) << "the stated length is what a decode gives";

        // The last tenth, and the very last frame.
        for (const SectionRange range : {SectionRange{0.9, 1}, SectionRange{0.99999, 1}}) {
            const auto section = prepareLoop(test::trackOf(path), range);
            ASSERT_TRUE(section);
            EXPECT_EQ(section->endFrame(), length);
            const std::int64_t frames = section->endFrame() - section->startFrame();
            const std::vector<float> expected(whole.begin() + section->startFrame() * 2, whole.end());
            EXPECT_TRUE(test::readFrames(section->url().toLocalFile(), 0, frames + 1) == expected) << frames;
        }
    }
    EXPECT_TRUE(test::jobFolders().isEmpty());
}
