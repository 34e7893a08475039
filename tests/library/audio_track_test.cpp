#include "library/audio_track.h"
#include "library/rex_audio.h"
#include "library/rex_error.h"
#include "library/sd2_pair_audio.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <thread>

using namespace tampod;
using Resolution = AudioSourceFormat::Resolution;

namespace {

AudioTrack trackAt(const QString &path)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    return track;
}

SD2Metadata parameters(int sampleBytes, int sampleRate, int channels)
{
    SD2Metadata metadata;
    metadata.sampleBytes = sampleBytes;
    metadata.sampleRate = sampleRate;
    metadata.channels = channels;
    return metadata;
}

// A working copy in its own job folder under dir, private as the store makes them.
std::shared_ptr<const SD2RecoveredCopy> workingCopy(const test::TempDir &dir, const QString &job, int sampleBytes,
                                                    int sampleRate, int channels, std::int64_t frames)
{
    EXPECT_TRUE(QDir(dir.path()).mkpath(job));
    EXPECT_EQ(::chmod(QFile::encodeName(dir.file(job)).constData(), 0700), 0);
    const QString file = dir.file(job + "/Recovered.wav");
    test::writeFile(file, "RIFF");
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(file), sampleRate, frames, "2:1:digest",
                                                    sampleBytes, channels);
}

} // namespace

TEST(AudioTrack, EffectiveBPMPrecedence)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    AudioTrack track;
    track.bpm = 0;
    track.detectedBPM = 128;
    EXPECT_EQ(track.effectiveBPM(), 128);
    track.bpm = nan;
    track.inheritedBPM = 120;
    EXPECT_EQ(track.effectiveBPM(), 120);
    track.bpm = 125.5;
    EXPECT_EQ(track.effectiveBPM(), 125.5);
    track.bpm = -1;
    track.inheritedBPM = inf;
    track.detectedBPM = 0;
    EXPECT_EQ(track.effectiveBPM(), std::nullopt);
    EXPECT_EQ(AudioTrack().effectiveBPM(), std::nullopt);
}

TEST(AudioTrack, SourceFormatAndSD2Parameters)
{
    test::TempDir dir;
    AudioTrack native = trackAt("/music/Song.wav");
    native.importedFormat = AudioSourceFormat{44100.0, Resolution::integer(16), false};
    EXPECT_EQ(native.sourceFormat(), native.importedFormat);
    EXPECT_EQ(native.sd2Parameters(), std::nullopt);

    // Pending recovery: no rate, unknown resolution, assumed; the request is not in force yet.
    AudioTrack pending = trackAt("/music/Take.L");
    pending.sd2Format = parameters(2, 44100, 1);
    pending.recovery = SD2Recovery{nullptr, parameters(3, 48000, 1)};
    EXPECT_EQ(pending.sourceFormat(), (AudioSourceFormat{std::nullopt, Resolution::unknown(), true}));
    EXPECT_EQ(pending.sd2Parameters(), parameters(2, 44100, 1));
    EXPECT_EQ(pending.sd2FrameCount(), std::nullopt);

    // Recovered: the copy's rate and bits, still assumed, and its parameters without tempos.
    AudioTrack recovered = pending;
    recovered.recovery->copy = workingCopy(dir, "left", 3, 48000, 1, 1000);
    EXPECT_EQ(recovered.sourceFormat(), (AudioSourceFormat{48000.0, Resolution::integer(24), true}));
    EXPECT_EQ(recovered.sd2Parameters(), parameters(3, 48000, 1));
    EXPECT_EQ(recovered.sd2FrameCount(), 1000);

    // Read from resource parameters: not assumed, tempos kept.
    AudioTrack fromResources = trackAt("/music/Take.R");
    SD2Metadata withTempo = parameters(2, 44100, 1);
    withTempo.bpm = 98.76;
    withTempo.nativeBPM = 98.759765625;
    fromResources.metadataAudio = SD2MetadataAudio{withTempo, workingCopy(dir, "right", 2, 44100, 1, 1000)};
    EXPECT_EQ(fromResources.sourceFormat(), (AudioSourceFormat{44100.0, Resolution::integer(16), false}));
    EXPECT_EQ(fromResources.sd2Parameters(), withTempo);

    // A pair is assumed when either channel is, and its parameters carry no tempo.
    AudioTrack pairTrack = trackAt("/music/Take.L");
    pairTrack.pair = std::make_shared<const SD2PairAudio>(recovered, fromResources,
                                                          workingCopy(dir, "pair", 3, 48000, 2, 1000));
    EXPECT_EQ(pairTrack.sourceFormat(), (AudioSourceFormat{48000.0, Resolution::integer(24), true}));
    EXPECT_EQ(pairTrack.sd2Parameters(), parameters(3, 48000, 2));
    AudioTrack plainPair = trackAt("/music/Take.L");
    plainPair.pair = std::make_shared<const SD2PairAudio>(fromResources, fromResources,
                                                          workingCopy(dir, "pair2", 2, 44100, 2, 1000));
    EXPECT_FALSE(plainPair.sourceFormat().assumed);
}

TEST(AudioTrack, AudioURLOrderAndOriginals)
{
    test::TempDir dir;
    const QString source = dir.file("Take.L");
    test::writeFile(source, "PCM");
    AudioTrack track = trackAt(source);
    EXPECT_EQ(track.audioURL(), QUrl::fromLocalFile(source));
    EXPECT_EQ(track.originalURLs(), QList<QUrl>{QUrl::fromLocalFile(source)});

    ASSERT_TRUE(QDir(dir.path()).mkpath("rex"));
    test::writeFile(dir.file("rex/REX-loop.caf"), "caff");
    track.rexAudio = std::make_shared<const REXAudio>(QUrl::fromLocalFile(dir.file("rex/REX-loop.caf")), REXInfo{});
    EXPECT_EQ(track.audioURL(), track.rexAudio->url());
    track.recovery = SD2Recovery{};
    EXPECT_EQ(track.audioURL(), track.rexAudio->url()) << "a pending recovery has no copy to play";
    track.recovery->copy = workingCopy(dir, "recovered", 2, 44100, 1, 10);
    EXPECT_EQ(track.audioURL(), track.recovery->copy->url());
    track.metadataAudio = SD2MetadataAudio{parameters(2, 44100, 1), workingCopy(dir, "metadata", 2, 44100, 1, 10)};
    EXPECT_EQ(track.audioURL(), track.metadataAudio->copy->url());

    const QString rightPath = dir.file("Take.R");
    test::writeFile(rightPath, "PCM");
    AudioTrack pairTrack = track;
    pairTrack.pair = std::make_shared<const SD2PairAudio>(track, trackAt(rightPath),
                                                          workingCopy(dir, "pair", 2, 44100, 2, 10));
    EXPECT_EQ(pairTrack.audioURL(), pairTrack.pair->copy()->url());
    EXPECT_EQ(pairTrack.originalURLs(), (QList<QUrl>{QUrl::fromLocalFile(source), QUrl::fromLocalFile(rightPath)}));

    // A source that can no longer be confirmed plays nothing but the placeholder.
    AudioTrack plain = trackAt(source);
    ASSERT_TRUE(QFile::remove(source));
    EXPECT_TRUE(plain.audioURL().toString().startsWith("tampod-unavailable:"));
    EXPECT_EQ(plain.originalURLs(), QList<QUrl>{plain._url.source()->unavailable()});
    EXPECT_EQ(plain.projectedURL(), QUrl::fromLocalFile(source));
}

TEST(AudioTrack, ExportStemAndPairName)
{
    test::TempDir dir;
    AudioTrack channel = trackAt("/music/Take.L");
    EXPECT_EQ(channel.exportStem(), "Take") << "not SD2: the extension goes";
    channel.sd2Format = parameters(2, 44100, 1);
    EXPECT_EQ(channel.exportStem(), "Take.L");
    EXPECT_EQ(trackAt("/music/Take.L.sd2").exportStem(), "Take.L");
    EXPECT_EQ(trackAt("/music/Song.wav").exportStem(), "Song");
    EXPECT_EQ(trackAt("/music/.hidden").exportStem(), ".hidden");

    const AudioTrack right = trackAt("/music/Take.R");
    AudioTrack pairTrack = trackAt("/music/Take.L");
    pairTrack.pair = std::make_shared<const SD2PairAudio>(channel, right, workingCopy(dir, "pair", 2, 44100, 2, 1));
    EXPECT_EQ(pairTrack.exportStem(), "Take");

    const SD2PairAudio unnamed(trackAt("/music/Kick one.wav"), trackAt("/music/Kick two.aif"),
                               workingCopy(dir, "pair2", 2, 44100, 2, 1));
    EXPECT_EQ(unnamed.name(), "Kick one + Kick two");
}

TEST(AudioTrack, DurationText)
{
    for (double nothing : {-5.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(AudioTrack::durationText(nothing), "00:00") << nothing;
    EXPECT_EQ(AudioTrack::durationText(59.9), "00:59");
    EXPECT_EQ(AudioTrack::durationText(3600), "60:00");
    EXPECT_EQ(AudioTrack::durationText(6000), "100:00");
    EXPECT_EQ(AudioTrack::durationText(1e300), "153722867280912930:07");
}

TEST(WorkingCopies, FolderGoesWithTheLastHolder)
{
    test::TempDir dir;
    auto copy = workingCopy(dir, "job", 2, 44100, 1, 10);
    const QString folder = QFileInfo(copy->url().toLocalFile()).absolutePath();
    ASSERT_TRUE(QDir(folder).mkpath("nested/deeper"));
    test::writeFile(folder + "/nested/deeper/peaks", "x");

    AudioTrack first = trackAt("/music/Take.sd2");
    first.recovery = SD2Recovery{copy, std::nullopt};
    copy.reset();
    AudioTrack second = first;
    first = AudioTrack();
    EXPECT_TRUE(QFileInfo::exists(folder)) << "a copy of the record still holds it";

    // Released on another thread: the folder still goes, and nothing beside it.
    std::thread([record = std::move(second)]() mutable { record = AudioTrack(); }).join();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QFileInfo::exists(dir.path()));

    // The REX listening copy and a pair's copy follow the same rule.
    ASSERT_TRUE(QDir(dir.path()).mkpath("rex"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file("rex")).constData(), 0700), 0);
    test::writeFile(dir.file("rex/REX-loop.caf"), "caff");
    AudioTrack loop = trackAt("/music/Loop.rx2");
    loop.rexAudio = std::make_shared<const REXAudio>(QUrl::fromLocalFile(dir.file("rex/REX-loop.caf")), REXInfo{});
    loop = AudioTrack();
    EXPECT_FALSE(QFileInfo::exists(dir.file("rex")));

    auto pair = std::make_shared<const SD2PairAudio>(trackAt("/music/Take.L"), trackAt("/music/Take.R"),
                                                     workingCopy(dir, "pair", 2, 44100, 2, 10));
    pair.reset();
    EXPECT_FALSE(QFileInfo::exists(dir.file("pair")));
}

TEST(WorkingCopies, RemovalNeverFollowsALink)
{
    test::TempDir dir;
    const QString outside = dir.file("outside.wav");
    test::writeFile(outside, "keep me");
    auto copy = workingCopy(dir, "job", 2, 44100, 1, 10);
    const QString folder = QFileInfo(copy->url().toLocalFile()).absolutePath();
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(folder + "/link").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir.path()).constData(), QFile::encodeName(folder + "/up").constData()), 0);
    copy.reset();
    EXPECT_EQ(test::readAll(outside), "keep me");
    EXPECT_TRUE(QFileInfo::exists(dir.file("outside.wav")));

    // A folder swapped for a link after ownership began is not removed through it.
    auto swapped = workingCopy(dir, "swapped", 2, 44100, 1, 10);
    ASSERT_TRUE(QDir(dir.file("swapped")).removeRecursively());
    ASSERT_TRUE(QDir(dir.path()).mkpath("elsewhere"));
    test::writeFile(dir.file("elsewhere/Recovered.wav"), "theirs");
    ASSERT_EQ(::symlink(QFile::encodeName(dir.file("elsewhere")).constData(),
                        QFile::encodeName(dir.file("swapped")).constData()), 0);
    swapped.reset();
    EXPECT_EQ(test::readAll(dir.file("elsewhere/Recovered.wav")), "theirs");
}

TEST(REXInfo, LimitsAndLength)
{
    auto words = [](int channels, int rate, int slices, int tempo, int ppq, int bits) {
        return std::vector<std::int32_t>{channels, rate, slices, 7, tempo, ppq, 0, 0, bits};
    };
    EXPECT_EQ(REXInfo::fromWords(words(2, 44100, 16, 120000, 61440, 24)).frames(), 88200);

    auto kindOf = [](const std::vector<std::int32_t> &w) {
        try {
            REXInfo::fromWords(w);
        } catch (const REXError &e) {
            return static_cast<int>(e.kind());
        }
        return -1;
    };
    const int limits = static_cast<int>(REXError::Kind::limits);
    for (const auto &bad : {words(3, 44100, 0, 120000, 15360, 16), words(1, 7999, 0, 120000, 15360, 16),
                            words(1, 192001, 0, 120000, 15360, 16), words(1, 44100, 0, 19999, 15360, 16),
                            words(1, 44100, 0, 450001, 15360, 16), words(1, 44100, 100001, 120000, 15360, 16),
                            words(1, 44100, -1, 120000, 15360, 16), words(1, 44100, 0, 120000, 0, 16),
                            words(1, 44100, 0, 120000, 15360, 0), words(1, 44100, 0, 120000, 15360, 33),
                            words(1, 8000, 0, 450000, 1, 16), // below one frame
                            words(2, 192000, 0, 20000, 1'000'000, 16)}) // beyond 256 MiB decoded
        EXPECT_EQ(kindOf(bad), limits);
    for (const auto &good : {words(1, 8000, 0, 20000, 15360, 1), words(2, 192000, 100000, 450000, 15360, 32)})
        EXPECT_EQ(kindOf(good), -1);
    EXPECT_EQ(kindOf(std::vector<std::int32_t>(8, 1)), static_cast<int>(REXError::Kind::verification));
    EXPECT_EQ(kindOf(std::vector<std::int32_t>(10, 1)), static_cast<int>(REXError::Kind::verification));

    // A hand-made record without a finite length gives 0 frames rather than undefined behaviour.
    EXPECT_EQ((REXInfo{1, 44100, 0, 0, 0, 15360, 16}).frames(), 0);
}

TEST(REXError, Texts)
{
    EXPECT_EQ(REXError::sdk(106).message(), "This REX file is damaged or is not a supported REX encoding.");
    EXPECT_EQ(REXError::sdk(107).message(), "This REX file needs a newer decoder.");
    EXPECT_EQ(REXError::sdk(-3).message(),
              "The REX decoder could not prepare this file (code -3). The original is unchanged.");
    EXPECT_EQ(REXError::limits().message(),
              QString::fromUtf8("This REX file exceeds the supported limits: 32 MB input, 256 MB decoded audio, "
                                "8\u2013192 kHz and original tempo 20\u2013450 BPM."));
}

TEST(SD2Recovery, Summary)
{
    test::TempDir dir;
    SD2Recovery recovery;
    EXPECT_EQ(recovery.summary(), "Missing SD2 metadata: choose bit depth, sample rate and channels before recovery.");
    recovery.requested = parameters(3, 44100, 2);
    EXPECT_EQ(recovery.summary(), "SD2 recovery: assumed signed 24-bit big-endian PCM; 44100 Hz; stereo.");
    recovery.copy = workingCopy(dir, "job", 2, 48000, 1, 10);
    EXPECT_EQ(recovery.summary(), "SD2 recovery: assumed signed 16-bit big-endian PCM; 48000 Hz; mono.");
}
