#include "playback/section_audio_preparer.h"
#include "playback/section_preparation_error.h"
#include "playback/waveform_fixtures.h"

#include "files/access/missing_audio_source.h"
#include "library/sd2_recovery.h"
#include "platform/audio_file_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include <thread>

using namespace tampod;

namespace {

std::shared_ptr<const PreparedSection> render(const QString &path, SectionRange range,
                                              const SectionPreparing::Progress &progress = {},
                                              const CancellationToken &token = {})
{
    return SectionAudioPreparer::render(test::trackOf(path), range, progress, token);
}

// How a call ends: "ok", a refusal's case number, or the kind of error.
template <typename Fn>
std::string outcome(Fn &&fn)
{
    try {
        fn();
        return "ok";
    } catch (const SectionPreparationError &e) {
        return std::to_string(int(e.kind()));
    } catch (const MissingAudioSource &) {
        return "missing";
    } catch (const AudioFileError &) {
        return "decoder";
    } catch (const Cancelled &) {
        return "cancelled";
    }
}
const std::string unsupported = "0", tooLarge = "1", incomplete = "2";

// A WAV header promising frames of 8-bit stereo silence, in a sparse file that takes no space.
void writeSparseWav(const QString &path, std::int64_t frames)
{
    const quint32 bytes = quint32(frames * 2);
    QByteArray header("RIFF....WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x08\0data....", 44);
    qToLittleEndian(bytes + 36, header.data() + 4);
    qToLittleEndian(bytes, header.data() + 40);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(header) == 44 && file.resize(44 + bytes));
}

} // namespace

TEST(SectionAudioPreparer, RangesAndFrameBoundsOnAThousandFrameFile)
{
    const std::tuple<double, SectionRange> initial[] = {{120, {0.375, 0.625}}, {30, {}}, {NAN, {}}, {INFINITY, {}}};
    for (const auto &[duration, range] : initial)
        EXPECT_EQ(SectionRange::initial(duration), range) << duration;
    EXPECT_NEAR(SectionRange::initial(30.5).start, 0.00820, 1e-5);
    EXPECT_EQ(PreparedSection(AudioTrack(), QUrl(), 0, 0, 0, 1, std::nullopt).range(), SectionRange{});

    test::jobFolders();
    test::TempDir dir;
    const QString path = dir.file("thousand.wav");
    const std::vector<float> samples = test::signal(1000, 2);
    test::writeWav(path, 2, samples);
    const std::tuple<SectionRange, std::int64_t, std::int64_t> cases[] = {
        {{0.5, 0.5004}, 500, 501}, {{0.9996, 0.9997}, 999, 1000}, {{0.0625, 0.5}, 63, 500}, {{0.1234, 0.5}, 123, 500}};
    for (const auto &[range, start, end] : cases) {
        auto section = render(path, range);
        EXPECT_EQ(std::tuple(section->startFrame(), section->endFrame(), section->totalFrames(), section->range()),
                  std::tuple(start, end, 1000, SectionRange{start / 1000.0, end / 1000.0}));
        const QString folder = section->directory().value_or(QUrl()).toLocalFile();
        EXPECT_EQ(section->url().toLocalFile(), folder + "/section.caf");
        EXPECT_EQ(test::readFrames(section->url().toLocalFile(), 0, 2000),
                  std::vector<float>(samples.begin() + start * 2, samples.begin() + end * 2));
        section.reset();
        EXPECT_FALSE(QFileInfo::exists(folder)) << "the last holder removes the folder";
    }
    // The whole track, also after rounding, plays the track's own file.
    for (const SectionRange whole : {SectionRange{0, 1}, SectionRange{0.0004, 0.9996}}) {
        const auto section = render(path, whole);
        EXPECT_EQ(std::tuple(section->directory(), section->url(), section->endFrame(), section->range()),
                  std::tuple(std::nullopt, QUrl::fromLocalFile(path), 1000, SectionRange{}));
    }

    // CAF, 'lpcm', flags float | little-endian, 8 bytes and 1 frame per packet, 2 channels of
    // 32 bits. Released on another thread, its folder still goes.
    auto section = render(path, {0.25, 0.75});
    const QByteArray caf = test::readAll(section->url().toLocalFile());
    const auto field = [&](int at) { return qFromBigEndian<quint32>(caf.constData() + at); };
    EXPECT_EQ(caf.left(4) + caf.mid(8, 4) + caf.mid(28, 4), "caffdesclpcm");
    EXPECT_EQ((std::tuple(field(32), field(36), field(40), field(44), field(48))), (std::tuple(3u, 8u, 1u, 2u, 32u)));
    std::thread([held = std::move(section)]() mutable { held.reset(); }).join();
    EXPECT_EQ(test::jobFolders(), QStringList());
}

TEST(SectionAudioPreparer, RefusalsFailuresAndCancellationLeaveNoFolder)
{
    using Case = SectionPreparationError::Case;
    const std::pair<Case, const char *> texts[] = {
        {Case::unsupported, "This file cannot be prepared for section looping. Whole-file playback is still available."},
        {Case::tooLarge, "This section exceeds the 4 GB working-copy limit. Select a shorter section."},
        {Case::incomplete, "The section could not be read or verified completely. Reopen the source and try again."}};
    for (const auto &[kind, text] : texts)
        EXPECT_EQ(SectionPreparationError(kind).message(), text);

    test::jobFolders();
    test::TempDir dir;
    test::writeWav(dir.file("33.wav"), 33, std::vector<float>(33 * 8, 0.25f));
    test::writeWav(dir.file("32.wav"), 32, std::vector<float>(32 * 8, 0.25f));
    test::writeWav(dir.file("empty.wav"), 1, {});
    // A FLAC stream whose header promises 10,000 frames more than it holds, and one cut short:
    // each is stated at the frames that decode, so its sections are prepared from those.
    test::makeTone(dir.file("long.flac"), 1, {"-c:a", "flac"});
    QByteArray flac = test::readAll(dir.file("long.flac"));
    qToBigEndian(qFromBigEndian<quint64>(flac.constData() + 18) + 10000, flac.data() + 18);
    test::writeFile(dir.file("long.flac"), flac);
    test::writeFile(dir.file("cut.flac"), flac.left(flac.size() / 2));
    writeSparseWav(dir.file("huge.wav"), 600000000);
    const auto endingAfter = [](double frames) { return SectionRange{0, frames / 600000000}; };
    const std::tuple<const char *, SectionRange, std::string> cases[] = {
        {"33.wav", {0.25, 0.75}, unsupported},    {"32.wav", {0.25, 0.75}, "ok"},
        {"empty.wav", {0.25, 0.75}, unsupported}, {"32.wav", {0.5, 0.5}, unsupported},
        {"32.wav", {NAN, 1}, unsupported},        {"32.wav", {0.2, 1.1}, unsupported},
        {"gone.wav", {0.25, 0.75}, "missing"},    {"long.flac", {0.9, 1}, "ok"},
        {"cut.flac", {0.9, 1}, "ok"},             {"huge.wav", endingAfter(536870400), tooLarge},
    };
    for (const auto &[name, range, expected] : cases)
        EXPECT_EQ(outcome([&] { render(dir.file(name), range); }), expected) << name;
    AudioTrack pending = test::trackOf(dir.file("32.wav"));
    pending.recovery = SD2Recovery{nullptr, std::nullopt};
    EXPECT_EQ(outcome([&] { SectionAudioPreparer::render(pending, {0.2, 0.4}, {}, {}); }), unsupported);

    // The largest stereo section passes the size check; it is cancelled at its first report.
    CancellationSource cancel;
    std::vector<double> reports;
    const auto report = [&](double value) { reports.push_back(value), cancel.cancel(); };
    EXPECT_EQ(outcome([&] { render(dir.file("huge.wav"), endingAfter(536870399), report, cancel.token()); }), "cancelled");
    EXPECT_EQ(reports, std::vector<double>{16384.0 / 536870399}) << "nothing after the cancellation";
    EXPECT_EQ(test::jobFolders(), QStringList());
}

TEST(SectionAudioPreparer, ProgressOncePerPercentEndingAtOne)
{
    test::jobFolders();
    test::TempDir dir;
    const QString path = dir.file("minute.wav");
    test::writeWav(path, 2, test::signal(44100 * 60, 2), 16);
    std::vector<double> reports;
    const auto section = render(path, {0.25, 1}, [&](double value) { reports.push_back(value); });
    const double frames = double(section->endFrame() - section->startFrame());
    ASSERT_GT(frames / 16384, 101) << "more chunks than reports";
    EXPECT_EQ(std::tuple(reports.size(), reports.front(), reports.back()), std::tuple(101u, 16384 / frames, 1.0));
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    reports.clear();
    render(path, {0.5, 0.5001}, [&](double value) { reports.push_back(value); });
    EXPECT_EQ(reports, std::vector<double>{1.0}) << "one chunk, one report";
}
