#include "library/audio_track.h"
#include "library/export_check_selection.h"
#include "library/library_selection.h"
#include "library/rex_audio.h"
#include "library/rex_error.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"

#include "core/native_path.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
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

SD2Metadata parameters(int sampleBytes, int sampleRate, int channels, std::optional<double> bpm = {})
{
    return {sampleBytes, sampleRate, channels, bpm, std::nullopt};
}

// A working copy in its own private job folder under dir, as the store makes them.
std::shared_ptr<const SD2RecoveredCopy> workingCopy(const test::TempDir &dir, const QString &job, int sampleBytes = 2,
                                                    int sampleRate = 44100, int channels = 1)
{
    EXPECT_TRUE(QDir(dir.path()).mkpath(job));
    EXPECT_EQ(::chmod(QFile::encodeName(dir.file(job)).constData(), 0700), 0);
    test::writeFile(dir.file(job + "/Recovered.wav"), "RIFF");
    return std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(dir.file(job + "/Recovered.wav")), sampleRate,
                                                    1000, "2:1:digest", sampleBytes, channels);
}

} // namespace

TEST(AudioTrack, TempoDurationAndExportStem)
{
    const double inf = INFINITY;
    using Tempo = std::optional<double>;
    for (const auto &[tag, inherited, detected, expected] : std::vector<std::tuple<Tempo, Tempo, Tempo, Tempo>>{
             {0.0, {}, 128.0, 128.0}, {NAN, 120.0, 128.0, 120.0}, {125.5, 120.0, 128.0, 125.5}, {-1.0, inf, 0.0, {}}, {}}) {
        AudioTrack track;
        std::tie(track.bpm, track.inheritedBPM, track.detectedBPM) = std::tie(tag, inherited, detected);
        EXPECT_EQ(track.effectiveBPM(), expected);
    }
    for (const auto &[seconds, text] : {std::pair{-5.0, "00:00"}, {NAN, "00:00"}, {inf, "00:00"}, {59.9, "00:59"},
                                        {6000.0, "100:00"}, {1e300, "153722867280912930:07"}})
        EXPECT_EQ(AudioTrack::durationText(seconds), text) << seconds;
    // SD2 channel files keep their channel suffix; everything else loses its extension.
    for (const auto &[path, sd2, stem] : {std::tuple{"/m/Take.L", false, "Take"}, {"/m/Take.L", true, "Take.L"},
                                          {"/m/Take.L.sd2", false, "Take.L"}, {"/m/.hidden", false, ".hidden"}}) {
        AudioTrack track = trackAt(path);
        if (sd2)
            track.sd2Format = parameters(2, 44100, 1);
        EXPECT_EQ(track.exportStem(), stem) << path;
    }
}

TEST(AudioTrack, FormatParametersAndAudioFollowTheNewestCopy)
{
    test::TempDir dir;
    const QString left = dir.file("Take.L"), right = dir.file("Take.R");
    test::writeFile(left, "PCM");
    test::writeFile(right, "PCM");
    AudioTrack plain = trackAt(left);
    plain.importedFormat = {44100.0, Resolution::integer(16), false};
    ASSERT_TRUE(QDir(dir.path()).mkpath("rex"));
    test::writeFile(dir.file("rex/REX-loop.caf"), "caff");
    AudioTrack rex = plain;
    rex.rexAudio = std::make_shared<const REXAudio>(QUrl::fromLocalFile(dir.file("rex/REX-loop.caf")), REXInfo{});
    // Pending: the request is not in force yet, and there is no copy to play.
    AudioTrack pending = rex;
    pending.sd2Format = parameters(2, 44100, 1);
    pending.recovery = SD2Recovery{nullptr, parameters(3, 48000, 1)};
    AudioTrack recovered = pending;
    recovered.recovery->copy = workingCopy(dir, "left", 3, 48000);
    AudioTrack fromResources = trackAt(right);
    fromResources.metadataAudio = SD2MetadataAudio{parameters(2, 44100, 1, 98.76), workingCopy(dir, "right")};
    // A pair is assumed when either channel is, and its parameters carry no tempo.
    AudioTrack pair = trackAt(left);
    pair.pair = std::make_shared<const SD2PairAudio>(recovered, fromResources, workingCopy(dir, "pair", 3, 48000, 2));
    AudioTrack plainPair = trackAt(left);
    plainPair.pair = std::make_shared<const SD2PairAudio>(fromResources, fromResources, workingCopy(dir, "pair2", 2, 44100, 2));

    struct Case {
        const AudioTrack &track;
        AudioSourceFormat format;
        std::optional<SD2Metadata> parameters;
        std::optional<std::int64_t> frames;
        QUrl audio;
    };
    for (const Case &c : {Case{plain, plain.importedFormat, {}, {}, QUrl::fromLocalFile(left)},
                          {rex, plain.importedFormat, {}, {}, rex.rexAudio->url()},
                          {pending, {std::nullopt, Resolution::unknown(), true}, parameters(2, 44100, 1), {}, rex.rexAudio->url()},
                          {recovered, {48000.0, Resolution::integer(24), true}, parameters(3, 48000, 1), 1000,
                           recovered.recovery->copy->url()},
                          {fromResources, {44100.0, Resolution::integer(16), false}, parameters(2, 44100, 1, 98.76), 1000,
                           fromResources.metadataAudio->copy->url()},
                          {pair, {48000.0, Resolution::integer(24), true}, parameters(3, 48000, 2), 1000, pair.pair->copy()->url()},
                          {plainPair, {44100.0, Resolution::integer(16), false}, parameters(2, 44100, 2), 1000,
                           plainPair.pair->copy()->url()}}) {
        EXPECT_EQ(c.track.sourceFormat(), c.format) << c.audio.toString().toStdString();
        EXPECT_EQ(c.track.sd2Parameters(), c.parameters) << c.audio.toString().toStdString();
        EXPECT_EQ(c.track.sd2FrameCount(), c.frames) << c.audio.toString().toStdString();
        EXPECT_EQ(c.track.audioURL(), c.audio);
    }
    EXPECT_EQ(pair.originalURLs(), (QList<QUrl>{QUrl::fromLocalFile(left), QUrl::fromLocalFile(right)}));
    EXPECT_EQ(pair.exportStem(), "Take");
    const SD2PairAudio named(trackAt("/m/Kick one.wav"), trackAt("/m/Kick two.aif"), workingCopy(dir, "pair3"));
    EXPECT_EQ(named.name(), "Kick one + Kick two");

    // A source that can no longer be confirmed plays nothing but the placeholder.
    ASSERT_TRUE(QFile::remove(left));
    EXPECT_TRUE(plain.audioURL().toString().startsWith("tampod-unavailable:"));
    EXPECT_EQ(plain.originalURLs(), QList<QUrl>{plain._url.source()->unavailable()});
    EXPECT_EQ(plain.projectedURL(), QUrl::fromLocalFile(left));
}

TEST(WorkingCopies, FolderGoesWithTheLastHolderButNeverAFolderSwappedIn)
{
    test::TempDir dir;
    AudioTrack first = trackAt("/m/Take.sd2");
    first.recovery = SD2Recovery{workingCopy(dir, "job"), std::nullopt};
    ASSERT_TRUE(QDir(dir.file("job")).mkpath("nested/deeper"));
    AudioTrack second = first;
    first = AudioTrack();
    EXPECT_TRUE(QFileInfo::exists(dir.file("job"))) << "a copy of the record still holds it";
    // Released on another thread: the folder still goes.
    std::thread([record = std::move(second)]() mutable { record = AudioTrack(); }).join();
    EXPECT_FALSE(QFileInfo::exists(dir.file("job")));
    // The REX listening copy and a pair's copy follow the same rule.
    ASSERT_TRUE(QDir(dir.path()).mkpath("rex"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file("rex")).constData(), 0700), 0);
    test::writeFile(dir.file("rex/REX-loop.caf"), "caff");
    { const REXAudio loop(QUrl::fromLocalFile(dir.file("rex/REX-loop.caf")), REXInfo{}); }
    { const SD2PairAudio pair(trackAt("/m/Take.L"), trackAt("/m/Take.R"), workingCopy(dir, "pair")); }
    EXPECT_FALSE(QFileInfo::exists(dir.file("rex")) || QFileInfo::exists(dir.file("pair")));

    // A folder swapped for a link after ownership began is not removed through it.
    auto swapped = workingCopy(dir, "swapped");
    ASSERT_TRUE(QDir(dir.file("swapped")).removeRecursively());
    ASSERT_TRUE(QDir(dir.path()).mkpath("elsewhere"));
    test::writeFile(dir.file("elsewhere/Recovered.wav"), "theirs");
    ASSERT_TRUE(QFile::link(dir.file("elsewhere"), dir.file("swapped")));
    swapped.reset();
    EXPECT_EQ(test::readAll(dir.file("elsewhere/Recovered.wav")), "theirs");
}

TEST(REXInfo, LimitsLengthAndTexts)
{
    const std::vector<std::int32_t> loop{2, 44100, 16, 7, 120000, 61440, 0, 0, 24};
    EXPECT_EQ(REXInfo::fromWords(loop).frames(), 88200);
    // A hand-made record without a finite length gives 0 frames rather than undefined behaviour.
    EXPECT_EQ((REXInfo{1, 44100, 0, 0, 0, 15360, 16}).frames(), 0);
    const auto kindOf = [](const std::vector<std::int32_t> &words) {
        return test::caught<REXError>([&] { REXInfo::fromWords(words); }, [](const REXError &e) { return e.kind(); });
    };
    // Each field just outside its range; then below one frame, and beyond 256 MiB decoded.
    const std::vector<std::int32_t> base{1, 44100, 0, 7, 120000, 15360, 0, 0, 16};
    for (const auto &[field, value] : {std::pair{0, 3}, {1, 7999}, {1, 192001}, {4, 19999}, {4, 450001}, {2, 100001},
                                       {2, -1}, {5, 0}, {8, 0}, {8, 33}}) {
        auto words = base;
        words[size_t(field)] = value;
        EXPECT_EQ(kindOf(words), REXError::Kind::limits) << field << " = " << value;
    }
    EXPECT_EQ(kindOf({1, 8000, 0, 7, 450000, 1, 0, 0, 16}), REXError::Kind::limits);
    EXPECT_EQ(kindOf({2, 192000, 0, 7, 20000, 1'000'000, 0, 0, 16}), REXError::Kind::limits);
    EXPECT_EQ(kindOf({1, 8000, 0, 7, 20000, 15360, 0, 0, 1}), std::nullopt);
    EXPECT_EQ(kindOf({2, 192000, 100000, 7, 450000, 15360, 0, 0, 32}), std::nullopt);
    for (size_t count : {8, 10})
        EXPECT_EQ(kindOf(std::vector<std::int32_t>(count, 1)), REXError::Kind::verification);

    EXPECT_EQ(REXError::sdk(106).message(), "This REX file is damaged or is not a supported REX encoding.");
    EXPECT_EQ(REXError::sdk(107).message(), "This REX file needs a newer decoder.");
    EXPECT_EQ(REXError::sdk(-3).message(), "The REX decoder could not prepare this file (code -3). The original is unchanged.");
    EXPECT_EQ(REXError::unavailable().message(),
              "The REX decoder library is not included with tamPOD and could not be loaded from "
              "lib/tampod/librex.so in tamPOD’s installation folder. REX files are refused without it.");
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
    recovery.copy = workingCopy(dir, "job", 2, 48000);
    EXPECT_EQ(recovery.summary(), "SD2 recovery: assumed signed 16-bit big-endian PCM; 48000 Hz; mono.");
}

TEST(SD2Identification, NamesAndChannels)
{
    // name, legacy SD2 name, "stem/channel" or "" for no channel name
    for (const auto &[name, legacy, channel] :
         {std::tuple{"Drums.L.sd2", true, "Drums/L"}, {"Drums.l", true, "Drums/L"}, {"Drums.R.SD2F", true, "Drums/R"},
          {"Drums.L-export-3.sd2", true, "Drums-export-3/L"}, {"Drums.L-EXPORT", false, "Drums-EXPORT/L"},
          {"Drums.L-export-", false, ""}, {"Drums.L.wav", false, ""}, {"take sd2", true, ""}, {"Take.sd2", true, ""},
          {"Take.L.R.sd2", true, "Take.L/R"}, {"Take.r-export-12", false, "Take-export-12/R"}, {"Take.L\n", false, ""},
          {"Take", false, ""}, {"take\xe9.L", true, "take\xe9/L"}, {"\xff\xfe.r-export-2", false, "\xff\xfe-export-2/R"},
          {"t\xe9\xe9.R.sd2", true, "t\xe9\xe9/R"}}) {
        // Names by their bytes: ones that are not UTF-8 keep them, as a folder lists them.
        const QUrl url = QUrl::fromLocalFile(QStringLiteral("/m/") + decodedPath(name));
        EXPECT_EQ(SD2Identification::hasLegacyName(url), legacy) << name;
        const auto found = SD2Identification::channelName(url);
        EXPECT_EQ(found ? found->stem + "/" + found->channel : QString(), decodedPath(channel)) << name;
    }
}

TEST(SelectionSets, LibraryOnlyOnChangeOfExistingTracksExportChecksOnEveryOperation)
{
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), gone = QUuid::createUuid();
    AudioTrack first, second;
    first.id = a;
    second.id = b;
    LibrarySelection selection;
    ExportCheckSelection checks;
    int selectionChanges = 0, checkChanges = 0;
    QObject::connect(&selection, &LibrarySelection::idsChanged, [&] { ++selectionChanges; });
    QObject::connect(&checks, &ExportCheckSelection::idsChanged, [&] { ++checkChanges; });

    selection.replace({a, gone}, {first, second});
    EXPECT_EQ(selection.ids(), QSet<QUuid>{a});
    selection.replace({a}, {first, second});
    selection.setIds({a});
    EXPECT_EQ(selectionChanges, 1) << "the same set notifies nobody";
    selection.replace({a, b}, {});
    EXPECT_TRUE(selection.ids().isEmpty());
    EXPECT_EQ(selectionChanges, 2);

    checks.clear();
    checks.remove({a});
    checks.set(a, true);
    checks.set(a, true);
    EXPECT_EQ(checkChanges, 4) << "every operation notifies, also without a change";
    checks.set(b, true);
    checks.set(a, false);
    checks.setIds({b});
    EXPECT_EQ(checkChanges, 6) << "assigning an equal set notifies nobody";
    checks.setIds({a, b});
    checks.remove({a, gone});
    EXPECT_EQ(checks.ids(), QSet<QUuid>{b});
    EXPECT_EQ(checkChanges, 8);
}
