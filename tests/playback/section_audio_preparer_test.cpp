#include "playback/section_audio_preparer.h"
#include "playback/section_preparation_error.h"
#include "playback/waveform_fixtures.h"

#include "files/access/missing_audio_source.h"
#include "library/sd2_recovery.h"
#include "platform/audio_file_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <thread>

using namespace tampod;
using Case = SectionPreparationError::Case;

namespace {

std::shared_ptr<const PreparedSection> render(const AudioTrack &track, SectionRange range,
                                              const SectionPreparing::Progress &progress = {},
                                              const CancellationToken &token = {})
{
    return SectionAudioPreparer::render(track, range, progress, token);
}

template <typename Fn>
std::exception_ptr failureOf(Fn &&fn)
{
    try {
        fn();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

std::optional<Case> refusal(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const SectionPreparationError &e) {
        return e.kind();
    } catch (...) {
    }
    return std::nullopt;
}

// A WAV whose header promises frames of 8-bit stereo silence, as a sparse file: it takes no
// disk space, and the reader takes its length from the header and the file's size.
void writeSparseWav(const QString &path, std::int64_t frames)
{
    const quint32 dataBytes = quint32(frames * 2);
    QByteArray header;
    const auto le32 = [&](quint32 v) { header.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 4); };
    const auto le16 = [&](quint16 v) { header.append(reinterpret_cast<const char *>(&(v = qToLittleEndian(v))), 2); };
    header.append("RIFF");
    le32(36 + dataBytes);
    header.append("WAVEfmt ");
    le32(16);
    le16(1);
    le16(2);
    le32(44100);
    le32(44100 * 2);
    le16(2);
    le16(8);
    header.append("data");
    le32(dataBytes);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(header), header.size());
    ASSERT_TRUE(file.resize(header.size() + dataBytes));
}

} // namespace

TEST(SectionRange, InitialRangeAndFrameExactFractions)
{
    const std::tuple<double, double, double> initial[] = {
        {120, 0.375, 0.625}, {30, 0, 1}, {0, 0, 1}, {-5, 0, 1}, {std::nan(""), 0, 1}, {INFINITY, 0, 1}};
    for (const auto &[duration, start, end] : initial)
        EXPECT_EQ(SectionRange::initial(duration), (SectionRange{start, end})) << duration;
    const SectionRange justOver = SectionRange::initial(30.5);
    EXPECT_NEAR(justOver.start, 0.00820, 1e-5);
    EXPECT_NEAR(justOver.end, 0.99180, 1e-5);

    const auto rangeOf = [](std::int64_t start, std::int64_t end, std::int64_t total) {
        return PreparedSection(AudioTrack(), QUrl(), start, end, total, 44100, std::nullopt).range();
    };
    EXPECT_EQ(rangeOf(123, 500, 1000), (SectionRange{0.123, 0.5}));
    EXPECT_EQ(rangeOf(0, 0, 0), (SectionRange{0, 1})) << "no frames: the whole track";
    EXPECT_EQ(rangeOf(5, 5, 10), (SectionRange{0, 1}));
}

TEST(SectionAudioPreparer, FrameBoundsOnAThousandFrameFile)
{
    test::testJobsFolder();
    test::TempDir dir;
    const QString path = dir.file("thousand.wav");
    const std::vector<float> samples = test::signal(1000, 2);
    test::writeWav(path, 2, samples);
    const AudioTrack track = test::trackOf(path);

    struct Expected {
        SectionRange range;
        std::int64_t start, end;
    };
    const Expected cases[] = {
        {{0.5, 0.5004}, 500, 501},   {{0.9996, 0.9997}, 999, 1000}, {{0.9996, 1}, 999, 1000},
        {{0.0625, 0.5}, 63, 500},    {{0.1234, 0.5}, 123, 500},     {{0, 0.0004}, 0, 1},
    };
    for (const Expected &c : cases) {
        SCOPED_TRACE(testing::Message() << c.range.start << "…" << c.range.end);
        auto section = render(track, c.range);
        EXPECT_EQ(std::tuple(section->startFrame(), section->endFrame(), section->totalFrames()),
                  std::tuple(c.start, c.end, std::int64_t(1000)));
        EXPECT_EQ(section->sampleRate(), 44100);
        ASSERT_TRUE(section->directory());
        const QString folder = section->directory()->toLocalFile();
        EXPECT_EQ(section->url().toLocalFile(), folder + "/section.caf");
        EXPECT_EQ(QFileInfo(folder).path(), test::testJobsFolder());
        const std::vector<float> expected(samples.begin() + c.start * 2, samples.begin() + c.end * 2);
        EXPECT_EQ(test::readFrames(section->url().toLocalFile(), 0, 2000), expected);
        section.reset();
        EXPECT_FALSE(QFileInfo::exists(folder)) << "the last holder removes the folder";
    }
    EXPECT_EQ(render(track, {0.1234, 0.5})->range(), (SectionRange{0.123, 0.5}));

    // The whole track, also after rounding, is played from the track's own file.
    for (SectionRange whole : {SectionRange{0, 1}, SectionRange{0.0004, 0.9996}}) {
        const auto section = render(track, whole);
        EXPECT_FALSE(section->directory());
        EXPECT_EQ(section->url(), track.audioURL());
        EXPECT_EQ(std::tuple(section->startFrame(), section->endFrame(), section->totalFrames()),
                  std::tuple(std::int64_t(0), std::int64_t(1000), std::int64_t(1000)));
        EXPECT_EQ(section->range(), (SectionRange{0, 1}));
    }
    EXPECT_TRUE(test::jobFolders().isEmpty());
}

TEST(SectionAudioPreparer, WorkingFileIsFloatLittleEndianCafReleasedOnAnyThread)
{
    test::testJobsFolder();
    test::TempDir dir;
    const QString path = dir.file("take.wav");
    test::writeWav(path, 2, test::signal(1000, 2), 48000, 16);
    auto section = render(test::trackOf(path), {0.25, 0.75});
    const QByteArray bytes = test::readAll(section->url().toLocalFile());
    // "caff", version 1, then the description chunk: rate, 'lpcm', float | little-endian,
    // 8 bytes per packet, 1 frame per packet, 2 channels, 32 bits.
    ASSERT_GE(bytes.size(), 52);
    EXPECT_EQ(bytes.left(4), "caff");
    EXPECT_EQ(bytes.mid(8, 4), "desc");
    const quint64 rateBits = qFromBigEndian<quint64>(bytes.constData() + 20);
    double rate = 0;
    std::memcpy(&rate, &rateBits, sizeof rate);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(bytes.mid(28, 4), "lpcm");
    const auto field = [&](int at) { return qFromBigEndian<quint32>(bytes.constData() + at); };
    EXPECT_EQ((std::tuple(field(32), field(36), field(40), field(44), field(48))), (std::tuple(3u, 8u, 1u, 2u, 32u)));
    EXPECT_EQ(AudioFileReader(section->url().toLocalFile()).length(), 500);

    const QString folder = section->directory()->toLocalFile();
    std::thread([held = std::move(section)]() mutable { held.reset(); }).join();
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(SectionAudioPreparer, RefusalsLeaveNoFolder)
{
    test::testJobsFolder();
    test::TempDir dir;
    test::writeWav(dir.file("many.wav"), 33, std::vector<float>(33 * 8, 0.25f));
    test::writeWav(dir.file("most.wav"), 32, std::vector<float>(32 * 8, 0.25f));
    test::writeWav(dir.file("empty.wav"), 1, {});
    test::writeWav(dir.file("mono.wav"), 1, test::signal(100, 1));
    AudioTrack pending = test::trackOf(dir.file("mono.wav"));
    pending.recovery = SD2Recovery{nullptr, std::nullopt};

    const std::tuple<AudioTrack, SectionRange, Case> refused[] = {
        {test::trackOf(dir.file("many.wav")), {0.25, 0.75}, Case::unsupported},
        {test::trackOf(dir.file("empty.wav")), {0.25, 0.75}, Case::unsupported},
        {pending, {0.25, 0.75}, Case::unsupported},
        {test::trackOf(dir.file("mono.wav")), {0.5, 0.5}, Case::unsupported},
        {test::trackOf(dir.file("mono.wav")), {std::nan(""), 1}, Case::unsupported},
        {test::trackOf(dir.file("mono.wav")), {-0.1, 0.5}, Case::unsupported},
        {test::trackOf(dir.file("mono.wav")), {0.2, 1.1}, Case::unsupported},
    };
    for (const auto &[track, range, kind] : refused)
        EXPECT_EQ(refusal(failureOf([&] { render(track, range); })), kind) << track.url().fileName().toStdString();
    EXPECT_EQ(render(test::trackOf(dir.file("most.wav")), {0.25, 0.75})->endFrame(), 6) << "32 channels are fine";

    const auto missing = failureOf([&] { render(test::trackOf(dir.file("gone.wav")), {0.25, 0.75}); });
    EXPECT_EQ(MissingAudioSource::message(missing), MissingAudioSource("gone.wav").message());

    // A source that runs out of frames during the copy (cut short meanwhile) is incomplete; a
    // FLAC stream cut short fails with the decoder's own error. Neither leaves a folder.
    const QString shrinking = dir.file("shrinking.wav");
    test::writeWav(shrinking, 2, test::signal(88200, 2));
    const auto cutShort = failureOf([&] {
        render(test::trackOf(shrinking), {0, 0.9}, [&](double) { QFile(shrinking).resize(44 + 20000 * 8); });
    });
    EXPECT_EQ(refusal(cutShort), Case::incomplete);
    const QString cut = dir.file("cut.flac");
    {
        AudioWriteFormat format;
        format.type = AudioFileType::flac;
        format.channels = 2;
        AudioFileWriter writer(cut, format);
        const std::vector<float> samples = test::signal(44100, 2);
        writer.writeInterleaved(samples.data(), 44100);
        writer.finish();
    }
    QFile file(cut);
    ASSERT_TRUE(file.resize(file.size() / 2));
    EXPECT_TRUE(errorIs<AudioFileError>(failureOf([&] { render(test::trackOf(cut), {0.9, 1}); })));
    EXPECT_TRUE(test::jobFolders().isEmpty());
}

TEST(SectionAudioPreparer, SizeCapWithoutWritingGigabytes)
{
    test::testJobsFolder();
    test::TempDir dir;
    constexpr std::int64_t length = 600000000;
    const QString path = dir.file("huge.wav");
    writeSparseWav(path, length);
    const AudioTrack track = test::trackOf(path);
    const auto endingAfter = [&](std::int64_t frames) { return SectionRange{0, double(frames) / double(length)}; };

    EXPECT_EQ(refusal(failureOf([&] { render(track, endingAfter(536870400)); })), Case::tooLarge);
    // The largest stereo section passes the check; cancelling at its first report stops the copy.
    CancellationSource cancel;
    std::vector<double> reports;
    const auto error = failureOf([&] {
        render(track, endingAfter(536870399), [&](double value) {
            reports.push_back(value);
            cancel.cancel();
        }, cancel.token());
    });
    EXPECT_TRUE(isCancellation(error));
    EXPECT_EQ(reports, std::vector<double>{16384.0 / 536870399.0}) << "no report after the cancellation";
    EXPECT_TRUE(test::jobFolders().isEmpty());
}

TEST(SectionAudioPreparer, ProgressOncePerPercentEndingAtOne)
{
    test::testJobsFolder();
    test::TempDir dir;
    const QString path = dir.file("minute.wav");
    test::writeWav(path, 2, test::signal(44100 * 60, 2), 44100, 16);
    const AudioTrack track = test::trackOf(path);

    std::vector<double> reports;
    const auto section = render(track, {0.25, 1}, [&](double value) { reports.push_back(value); });
    const double frames = double(section->endFrame() - section->startFrame());
    ASSERT_GT(frames / 16384, 101) << "more chunks than reports";
    EXPECT_LE(reports.size(), 101u);
    EXPECT_GE(reports.size(), 100u);
    EXPECT_EQ(reports.front(), 16384 / frames) << "the first chunk always reports";
    EXPECT_EQ(reports.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));

    reports.clear();
    render(track, {0.5, 0.5001}, [&](double value) { reports.push_back(value); });
    EXPECT_EQ(reports, std::vector<double>{1.0}) << "one chunk, one report";

    // Detached, with the caller's token: cancelled before it starts, it makes nothing.
    CancellationSource cancelled;
    cancelled.cancel();
    SectionAudioPreparer preparer;
    EXPECT_TRUE(isCancellation(failureOf([&] {
        test::runTask([&]() -> QCoro::Task<> { co_await preparer.prepare(track, {0.25, 0.5}, {}, cancelled.token()); }());
    })));
    const auto detached = test::runTask([&]() -> QCoro::Task<std::shared_ptr<const PreparedSection>> {
        co_return co_await preparer.prepare(track, {0.25, 0.5}, {}, {});
    }());
    EXPECT_EQ(detached->endFrame() - detached->startFrame(), 44100 * 15);
}
