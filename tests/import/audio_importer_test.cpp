// The importer on fixture trees made here: the walk, every refusal, the four kinds of record,
// the limits and cancellation at each check point.
#include "import/audio_importer.h"
#include "import/audio_source_format_reader.h"

#include "import/internal/import_texts.h"
#include "library/rex_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "rex/scripted_rex_fixture.h"
#include "sd2/resource_fork_builder.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cmath>
#include <map>
#include <mutex>
#include <unistd.h>

using namespace tampod;
using namespace tampod::test;
namespace text = tampod::ImportText;

namespace {

// A quarter second of a tone at 44.1 kHz.
QString audioFile(const QString &path, int bits = 16, int channels = 1, AudioFileType type = AudioFileType::wav)
{
    std::vector<float> samples(std::size_t(11025 * channels));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(0.5 * std::sin(double(i) * 0.05));
    AudioFileWriter writer(path, {type, 44100, channels, bits, type == AudioFileType::caf, 0});
    writer.writeInterleaved(samples.data(), 11025);
    writer.finish();
    return path;
}

// Headerless big-endian 16-bit samples, as an SD2 data fork holds them.
QByteArray headerless(qint64 bytes)
{
    QByteArray data(bytes, 0);
    for (qint64 i = 0; i + 1 < bytes; i += 2) {
        const auto value = std::int16_t(8000 * std::sin(double(i) * 0.01));
        data[i] = char(value >> 8);
        data[i + 1] = char(value & 0xFF);
    }
    return data;
}

QByteArray sd2Fork(const char *bytes, const char *channels, const char *bpm = nullptr)
{
    std::vector<Resource> more;
    if (bpm)
        more.push_back({typeSBPM, 128, QByteArray("tamPOD_BPM=") + bpm});
    return buildFork(parameters(bytes, "44100", channels, more));
}

// Resource forks by file name, in the netatalk attribute; reads can be watched. The importer
// also reads forks from pool threads.
class ScriptedForks final : public ForkStore::Backend {
public:
    std::map<QString, QByteArray> forks;
    std::function<void(const QString &name, int read)> onRead;
    mutable std::map<QString, int> reads;
    mutable std::mutex mutex;

    ForkStore::Probe read(const QString &path, ForkStore::Source source, qint64) const override
    {
        const std::lock_guard lock(mutex);
        const QString name = QFileInfo(path).fileName();
        if (source != ForkStore::Source::netatalkAttribute || !forks.count(name))
            return {ENODATA, 0, {}};
        if (onRead)
            onRead(name, ++reads[name]);
        const QByteArray fork = forks.at(name); // the hook may have changed it
        return {0, fork.size(), fork};
    }
    int write(const QString &, const QByteArray &) const override { return ENOTSUP; }
};

QString namesOf(const AudioImportResult &result)
{
    QStringList names;
    for (const AudioTrack &track : result.tracks)
        names << track.projectedURL().fileName();
    return names.join(' ');
}

// Refusals by name, where the listing's order is not the point.
QList<ImportRejection> byName(QList<ImportRejection> list)
{
    std::stable_sort(list.begin(), list.end(), [](const auto &a, const auto &b) { return a.name < b.name; });
    return list;
}

class Importer : public ::testing::Test {
protected:
    AudioImporter::Services services()
    {
        AudioImporter::Services s;
        s.rex = rex;
        s.store = [this]() -> TemporaryAudioStore & { return store; };
        s.forks = ForkStore(forks);
        return s;
    }
    AudioImportResult load(const QStringList &paths, const CancellationToken &token = {},
                           const QSet<QUrl> &excluding = {}, std::optional<AudioImporter::Services> with = {})
    {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls << QUrl::fromLocalFile(path);
        return AudioImporter(with.value_or(services())).load(urls, excluding, token).wait();
    }
    QString folder(const QString &name)
    {
        EXPECT_TRUE(QDir(dir.path()).mkpath(name));
        return dir.file(name);
    }
    QString rexLoop(const QString &name = QStringLiteral("Loop.rx2"))
    {
        return ScriptedREX::write(dir.file(name), scripted_rex::loop(2, 44100, 120000, 122880));
    }
    QStringList jobs() const
    {
        return QDir(store.session().toLocalFile() + "/jobs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    TempDir dir;
    TemporaryAudioStore store{QUrl::fromLocalFile(dir.file(QStringLiteral("store")))};
    ScriptedREX library;
    std::shared_ptr<REXDecoder> rex =
        std::make_shared<REXDecoder>(scriptedREXPath, [this]() -> TemporaryAudioStore & { return store; });
    std::shared_ptr<ScriptedForks> forks = std::make_shared<ScriptedForks>();
};

} // namespace

TEST_F(Importer, AFolderIsInspectedInLocalisedOrderAndEachFileOnce)
{
    const QString songs = folder("songs");
    for (const char *name : {"b10.wav", "B2.wav", "a.wav", ".cache/hidden.wav"})
        audioFile(folder("songs/.cache") + "/../" + name);
    const AudioImportResult result = load({songs, songs + "/a.wav", dir.file("songs/../songs/B2.wav")});
    EXPECT_EQ(namesOf(result), "a.wav B2.wav b10.wav");
    EXPECT_TRUE(result.rejections.isEmpty());

    const AudioTrack &a = result.tracks.first();
    EXPECT_EQ(a.url().toLocalFile(), QDir(songs).canonicalPath() + "/a.wav");
    EXPECT_DOUBLE_EQ(a.duration, 0.25);
    EXPECT_EQ(a.importedFormat.summary(), AudioSourceFormatReader::read(a.url()).summary());
    EXPECT_FALSE(a.bpm || a.sd2Format || a.sd2MetadataNote || a.rexAudio || a.recovery || a.importedSD2Frames);
    EXPECT_EQ(a.access->url(), QUrl::fromLocalFile(songs));

    // Files already in the library are skipped without a word.
    const AudioImportResult again = load({songs}, {}, {a.url(), result.tracks[1].url()});
    EXPECT_EQ(namesOf(again), "b10.wav");
    EXPECT_TRUE(again.rejections.isEmpty());
}

TEST_F(Importer, EveryRefusalOfARealFileHasItsSentence)
{
    const QString mixed = folder("mixed");
    writeFile(mixed + "/empty.wav", {});
    writeFile(mixed + "/notes.txt", "just words");
    writeFile(mixed + "/fake.wav", "this is text, not audio, whatever its name says");
    writeFile(mixed + "/unknown.dat", headerless(4000));
    ASSERT_TRUE(QFile::link(audioFile(dir.file("real.wav")), mixed + "/link.wav"));
    ASSERT_TRUE(QFile::link(dir.path(), mixed + "/folder-link"));
    folder("mixed/nested/deeper");
    writeFile(folder("hidden-only") + "/.secret.wav", "x");
    ASSERT_TRUE(QFile::link(dir.file("real.wav"), folder("only-link") + "/link.wav"));

    const AudioImportResult result = load({mixed, folder("empty"), dir.file("hidden-only"), dir.file("only-link"),
                                           dir.file("missing.wav"), mixed + "/link.wav"});
    EXPECT_TRUE(result.tracks.isEmpty());
    EXPECT_EQ(byName(result.rejections), byName({
                                             {"link.wav", text::symbolicLink},
                                             {"folder-link", text::symbolicLink},
                                             {"empty.wav", text::notRegular},
                                             {"fake.wav", text::nativeCannotOpen},
                                             {"notes.txt", text::notRecognized},
                                             {"unknown.dat", text::notRecognized},
                                             {"empty", text::noVisibleFiles},
                                             {"hidden-only", text::noVisibleFiles},
                                             {"link.wav", text::symbolicLink},
                                             {"only-link", text::noVisibleFiles},
                                             {"missing.wav", text::unavailable},
                                             {"link.wav", text::notRegular},
                                         }));
}

// A chained Ogg file imports whole or not at all: links that change the codec (Ogg FLAC among
// Vorbis) have no one format, and are refused with the sentence for audio that cannot be
// prepared; links of one codec import at their lengths together.
TEST_F(Importer, ChainedOggImportsWholeOrIsRefused)
{
    const auto link = [this](const QString &name, double seconds, const QStringList &options) {
        const QString path = dir.file(name);
        runChecked(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                                         QStringLiteral("sine=f=440:r=44100:d=%1").arg(seconds), "-ac", "2"}
                                                 + options + QStringList{path});
        return readAll(path);
    };
    const QByteArray vorbis = link("v.ogg", 1, {"-c:a", "libvorbis"});
    const QByteArray flac = link("f.ogg", 3, {"-c:a", "flac", "-f", "ogg", "-serial_offset", "4"});
    const QByteArray flacShort = link("f1.ogg", 1, {"-c:a", "flac", "-f", "ogg", "-serial_offset", "7"});
    const QString chains = folder("chains");
    writeFile(chains + "/vorbis-flac.ogg", vorbis + flac);
    writeFile(chains + "/flac-vorbis.ogg", flac + vorbis);
    writeFile(chains + "/vorbis-flac-vorbis.ogg", vorbis + flac + vorbis);
    writeFile(chains + "/flac-flac.ogg", flac + flacShort);
    writeFile(chains + "/vorbis-vorbis.ogg", vorbis + vorbis);
    const AudioImportResult result = load({chains});
    EXPECT_EQ(byName(result.rejections), byName({{"flac-vorbis.ogg", text::notPlayable},
                                                 {"vorbis-flac-vorbis.ogg", text::notPlayable},
                                                 {"vorbis-flac.ogg", text::notPlayable}}));
    std::map<QString, double> durations;
    for (const AudioTrack &track : result.tracks)
        durations[track.projectedURL().fileName()] = track.duration;
    EXPECT_EQ(durations, (std::map<QString, double>{{"flac-flac.ogg", 4.0}, {"vorbis-vorbis.ogg", 2.0}}));
}

TEST_F(Importer, InjectedFaultsHaveTheirSentences)
{
    const QString faults = folder("faults");
    audioFile(faults + "/unreadable-entry.wav");
    audioFile(faults + "/silent.wav");
    writeFile(faults + "/Changing.sd2", headerless(4000));
    writeFile(faults + "/Damaged.sd2", headerless(4000));
    forks->forks["Changing.sd2"] = sd2Fork("2", "1");
    forks->forks["Damaged.sd2"] = "not a resource fork";
    forks->onRead = [this](const QString &name, int read) {
        if (name == "Changing.sd2" && read == 2)
            forks->forks[name] = sd2Fork("2", "2");
    };
    AudioImporter::Services faulty = services();
    faulty.entryKind = [](const Folder &folder, const Folder::Entry &entry) {
        if (QByteArray(entry.name) == "unreadable-entry.wav")
            throw SystemError(EIO, "fstatat");
        return AudioImporter::entryKind(folder, entry);
    };
    faulty.openNative = [](const QString &path, const CancellationToken &token) {
        NativeAudio audio = NativeAudio::open(path, token);
        audio.playable = audio.playable && !path.endsWith("silent.wav");
        return audio;
    };
    const AudioImportResult result = load({faults}, {}, {}, faulty);
    EXPECT_TRUE(result.tracks.isEmpty());
    EXPECT_EQ(byName(result.rejections),
              byName({{"unreadable-entry.wav", text::itemAccess},
                      {"Changing.sd2", text::sd2CopyFailed},
                      {"Damaged.sd2", "SD2 resource metadata is damaged or incomplete. The original was not changed."},
                      {"silent.wav", text::notPlayable}}));
    EXPECT_TRUE(jobs().isEmpty());
}

// A stretch of a file the system cannot read (an unreadable sector, a share that drops) is never
// taken for the end of its audio: where the import reads it (an ALAC file in CAF, whose length a
// decode counts; an Ogg file, whose pages are walked), the file is refused as one that cannot be
// read; elsewhere it comes in whole.
TEST_F(Importer, AReadTheSystemFailsRefusesTheFileWhereTheImportReadsIt)
{
    const QString sources = folder("sources");
    QStringList paths = makeNoiseSources(sources, 12);
    paths << sources + "/alac.caf";
    runChecked("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "anoisesrc=r=44100:a=0.3:d=12", "-ac", "2", "-c:a",
                          "alac", paths.last()});
    // Opening an Ogg file reads every page: the stretch fails that open. An MP3 file's Info
    // header agrees with its end, where the import reads it, so the middle is not read.
    const std::map<QString, QString> refused = {{"alac.caf", text::cannotRead},
                                                {"tone.ogg", text::cannotRead}};
    for (const QString &path : paths) {
        const QString name = QFileInfo(path).fileName();
        const qint64 middle = QFileInfo(path).size() / 2;
        BadStretch bad(path, middle - 2048, middle + 2048);
        const AudioImportResult result = load({path});
        if (refused.count(name)) {
            EXPECT_TRUE(result.tracks.isEmpty()) << name.toStdString();
            EXPECT_EQ(result.rejections, (QList<ImportRejection>{{name, refused.at(name)}})) << name.toStdString();
        } else {
            ASSERT_EQ(result.tracks.size(), 1) << name.toStdString();
            EXPECT_DOUBLE_EQ(result.tracks.first().duration, 12.0) << name.toStdString();
        }
        // Its first bytes, which every open reads.
        BadStretch badStart(path, 0, 16);
        EXPECT_EQ(load({path}).rejections, (QList<ImportRejection>{{name, text::cannotRead}})) << name.toStdString();
    }
}

TEST_F(Importer, SD2FilesWithoutParametersWaitForRecoveryAndChannelFilesStandTogether)
{
    writeFile(dir.file("Take.L"), headerless(1'000'000));
    writeFile(dir.file("Take.sd2"), headerless(1'000'000));
    writeFile(dir.file("Odd.L"), headerless(1'000'001));
    const AudioImportResult result = load({dir.file("Take.L"), dir.file("Take.sd2"), dir.file("Odd.L")});
    EXPECT_TRUE(result.rejections.isEmpty());
    ASSERT_EQ(namesOf(result), "Take.L Take.sd2 Odd.L");
    const struct {
        int channels;
        std::optional<std::int64_t> frames;
    } expected[] = {{1, 500'000}, {2, 250'000}, {1, std::nullopt}};
    for (int i = 0; i < 3; ++i) {
        const AudioTrack &track = result.tracks[i];
        ASSERT_TRUE(track.recovery && !track.recovery->copy);
        EXPECT_EQ(track.recovery->requested, (SD2Metadata{2, 44100, expected[i].channels, {}, {}}));
        EXPECT_EQ(track.importedSD2Frames, expected[i].frames);
        EXPECT_FALSE(track.duration || track.bpm || track.importedFormat.sampleRate);
    }
    EXPECT_TRUE(jobs().isEmpty());

    const QString pair = folder("pair");
    writeFile(pair + "/Take.R", headerless(4000));
    writeFile(pair + "/Take.L", headerless(4000));
    audioFile(pair + "/Take.M.wav");
    EXPECT_EQ(namesOf(load({pair})), "Take.L Take.R Take.M.wav");
}

// Every place an SD2 fork can live: the file's own attribute and both AppleDouble companions.
TEST_F(Importer, SD2FilesWithAForkImportWithTheirParametersAndPlayFromAVerifiedCopy)
{
    const QByteArray pcm = headerless(88'200); // 22,050 stereo frames
    const QByteArray fork = sd2Fork("2", "2", "98.5");
    const QString attribute = folder("attribute"), companion = folder("companion"), inFolder = folder("apple-double");
    for (const QString &place : {attribute, companion, inFolder})
        writeFile(place + "/Take.sd2", pcm);
    ForkStore().write(attribute + "/Take.sd2", fork);
    writeFile(companion + "/._Take.sd2", appleDouble({{9, QByteArray(32, 0)}, {2, fork}}));
    writeFile(folder("apple-double/.AppleDouble") + "/Take.sd2", appleDouble({{2, fork}}));

    AudioImporter::Services real = services();
    real.forks = ForkStore();
    const AudioImportResult result = load({attribute, companion, inFolder}, {}, {}, real);
    EXPECT_TRUE(result.rejections.isEmpty()) << result.rejections.value(0).reason.toStdString();
    ASSERT_EQ(result.tracks.size(), 3);
    for (const AudioTrack &track : result.tracks) {
        SCOPED_TRACE(track.url().toLocalFile().toStdString());
        ASSERT_TRUE(track.metadataAudio);
        EXPECT_EQ(track.metadataAudio->metadata, (SD2Metadata{2, 44100, 2, 98.5, std::nullopt}));
        EXPECT_EQ(track.bpm, 98.5);
        EXPECT_DOUBLE_EQ(track.duration, 0.5);
        EXPECT_EQ(track.importedSD2Frames, 22'050);
        // It plays the copy, which holds the source's samples.
        ASSERT_NE(track.audioURL(), track.url());
        AudioFileReader copy(track.audioURL().toLocalFile());
        std::vector<std::int32_t> samples(44'100);
        ASSERT_EQ(copy.readInt32Interleaved(samples.data(), 22'050), 22'050);
        for (int i : {0, 1, 777, 44'099})
            EXPECT_EQ(samples[i] >> 16, std::int16_t((std::uint8_t(pcm[2 * i]) << 8) | std::uint8_t(pcm[2 * i + 1])));
    }
    EXPECT_EQ(jobs().size(), 3);
}

TEST_F(Importer, SD2FilesOurDecoderPlaysAreCheckedAgainstTheirParameters)
{
    for (const char *name : {"Disagrees.sd2", "Agrees.sd2"})
        audioFile(dir.file(name), 24, 2);
    audioFile(dir.file("Take.L"));
    audioFile(dir.file("Companion.wav"));
    writeFile(dir.file("._Companion.wav"), "not AppleDouble, and no fork inside");
    audioFile(dir.file("Float.sd2"), 32, 1, AudioFileType::caf);
    forks->forks["Disagrees.sd2"] = sd2Fork("2", "2", "120");
    forks->forks["Agrees.sd2"] = sd2Fork("3", "2", "120");
    const AudioImportResult result = load({dir.file("Disagrees.sd2"), dir.file("Agrees.sd2"), dir.file("Take.L"),
                                           dir.file("Companion.wav"), dir.file("Float.sd2")});
    EXPECT_TRUE(result.rejections.isEmpty());
    ASSERT_EQ(namesOf(result), "Disagrees.sd2 Agrees.sd2 Take.L Companion.wav Float.sd2");
    const auto &tracks = result.tracks;
    EXPECT_EQ(tracks[0].sd2Format, (SD2Metadata{3, 44100, 2, {}, {}}));
    EXPECT_EQ(tracks[0].sd2MetadataNote,
              text::disagreesPrefix + tracks[0].importedFormat.summary() + ", 2" + text::disagreesSuffix);
    EXPECT_EQ(tracks[1].sd2Format, (SD2Metadata{3, 44100, 2, 120.0, std::nullopt}));
    EXPECT_EQ(tracks[2].sd2Format, (SD2Metadata{2, 44100, 1, {}, {}}));
    EXPECT_FALSE(tracks[1].sd2MetadataNote || tracks[2].sd2MetadataNote || tracks[3].sd2Format
                 || tracks[3].sd2MetadataNote || tracks[4].sd2Format);
    EXPECT_EQ(tracks[3].importedFormat.summary(), tracks[2].importedFormat.summary());
    EXPECT_EQ(tracks[4].sd2MetadataNote, text::outsideLinking);
    // The SD2 records count their frames; the WAV with a companion is not one.
    EXPECT_EQ(tracks[0].importedSD2Frames, 11'025);
    EXPECT_FALSE(tracks[3].importedSD2Frames);
}

TEST_F(Importer, ARexLoopImportsWithItsTempoAndLengthAndFailuresKeepTheirTexts)
{
    scripted_rex::Script damaged = scripted_rex::loop(2, 44100, 120000, 122880);
    damaged.failStep = std::int32_t(scripted_rex::Step::create);
    damaged.failCode = 106;
    ScriptedREX::write(dir.file("Damaged.rex"), damaged);
    writeFile(dir.file("Empty.rcy"), {});
    const AudioImportResult result = load({rexLoop(), dir.file("Damaged.rex"), dir.file("Empty.rcy")});
    ASSERT_EQ(namesOf(result), "Loop.rx2");
    const AudioTrack &loop = result.tracks.first();
    EXPECT_EQ(loop.bpm, 120.0);
    EXPECT_EQ(AudioTrack::durationText(loop.duration), "00:04");
    EXPECT_EQ(loop.importedFormat, (AudioSourceFormat{44100.0, AudioSourceFormat::Resolution::integer(16), false}));
    EXPECT_EQ(loop.audioURL(), loop.rexAudio->url());
    EXPECT_EQ(AudioFileReader(loop.audioURL().toLocalFile()).length(), 176'400);
    EXPECT_EQ(result.rejections,
              (QList<ImportRejection>{{"Damaged.rex", REXError::sdk(106).message()}, {"Empty.rcy", text::notRegular}}));

    // Without the library; and with a store that cannot hold the copy. No folder either way.
    rex = std::make_shared<REXDecoder>(dir.file("nowhere/REX Shared Library"),
                                       [this]() -> TemporaryAudioStore & { return store; });
    EXPECT_EQ(load({rexLoop("Other.rx2")}).rejections,
              (QList<ImportRejection>{{"Other.rx2", REXError::unavailable().message()}}));
    rex = std::make_shared<REXDecoder>(scriptedREXPath, []() -> TemporaryAudioStore & {
        throw SystemError(ENOSPC, "store");
    });
    EXPECT_EQ(load({rexLoop("Third.rx2")}).rejections, (QList<ImportRejection>{{"Third.rx2", text::rexUnreadable}}));
    EXPECT_EQ(jobs().size(), 1);
}

TEST_F(Importer, BothLimitTextsComeOnceAndAFullFolderIsTakenWhole)
{
    // Links to one file: far quicker to make than ten thousand files.
    const QString many = folder("many");
    writeFile(dir.file("one.txt"), {});
    writeFile(dir.file("single.txt"), {});
    const auto add = [&](int i) {
        ASSERT_EQ(::link(QFile::encodeName(dir.file("one.txt")).constData(),
                         QFile::encodeName(many + QString("/%1.txt").arg(i, 5, 10, QChar('0'))).constData()),
                  0);
    };
    for (int i = 0; i < AudioImporter::maximumFiles; ++i)
        add(i);
    const auto count = [](const AudioImportResult &result, const QString &reason) {
        return std::count_if(result.rejections.begin(), result.rejections.end(),
                             [&](const ImportRejection &r) { return r.reason == reason; });
    };
    const AudioImportResult whole = load({many});
    EXPECT_EQ(count(whole, text::notRecognized), AudioImporter::maximumFiles);
    EXPECT_EQ(whole.rejections.size(), AudioImporter::maximumFiles);

    add(AudioImporter::maximumFiles);
    const AudioImportResult over = load({many, dir.file("single.txt")});
    EXPECT_EQ(count(over, text::notRecognized), AudioImporter::maximumFiles);
    EXPECT_EQ(count(over, text::folderLimit), 1);
    EXPECT_EQ(count(over, text::fileLimit), 1);
    EXPECT_TRUE((over.rejections.contains({"many", text::folderLimit})));
    EXPECT_EQ(over.rejections.last(), (ImportRejection{"single.txt", text::fileLimit}));
}

// Cancelled at any check point, an import returns nothing, and no working copy made before
// (a REX listening copy, an SD2 copy) survives it.
TEST_F(Importer, CancellingAtEachCheckPointLeavesNoWorkingCopy)
{
    const QString files = folder("files");
    audioFile(files + "/a.wav");
    audioFile(files + "/b.wav");
    writeFile(dir.file("Take.sd2"), headerless(4000));
    forks->forks["Take.sd2"] = sd2Fork("2", "1");
    const QStringList order{rexLoop(), dir.file("Take.sd2"), files};

    CancellationSource source;
    const auto at = [&](const char *name, const QString &path) {
        if (path.endsWith(name))
            source.cancel();
    };
    const auto onREX = [&](const char *name, int batch) {
        return [&, name, batch](AudioImporter::Services &) {
            library.setHook([&, name, batch](const QString &call, int b) {
                if (call == name && b == batch)
                    source.cancel();
            });
        };
    };
    const auto onFork = [&](int read) {
        return [&, read](AudioImporter::Services &) {
            forks->onRead = [&, read](const QString &, int r) {
                if (r == read)
                    source.cancel();
            };
        };
    };
    const struct {
        const char *where;
        std::function<void(AudioImporter::Services &)> arrange;
    } points[] = {
        {"before the first item", [&](auto &) { source.cancel(); }},
        {"while a loop renders", onREX("Render", 1)},
        {"after a loop was rendered", onREX("Uninitialize", -1)},
        {"before SD2 parameters are read",
         [&](auto &s) {
             s.openNative = [&](const QString &p, const CancellationToken &t) {
                 at("Take.sd2", p);
                 return NativeAudio::open(p, t);
             };
         }},
        {"while the SD2 copy is made", onFork(1)},
        {"after the SD2 copy was verified", onFork(2)},
        {"between folder entries",
         [&](auto &s) {
             s.entryKind = [&](const Folder &f, const Folder::Entry &e) {
                 at("a.wav", f.pathOf(e.name));
                 at("b.wav", f.pathOf(e.name));
                 return AudioImporter::entryKind(f, e);
             };
         }},
        {"between folder files",
         [&](auto &s) {
             s.openNative = [&](const QString &p, const CancellationToken &) {
                 at("a.wav", p);
                 return NativeAudio::open(p, {});
             };
         }},
    };
    for (const auto &point : points) {
        SCOPED_TRACE(point.where);
        source = CancellationSource();
        library.reset();
        forks->onRead = {};
        forks->reads.clear();
        AudioImporter::Services arranged = services();
        point.arrange(arranged);
        EXPECT_THROW(load(order, source.token(), {}, arranged), Cancelled);
        EXPECT_TRUE(jobs().isEmpty()) << jobs().join(' ').toStdString();
    }
    EXPECT_EQ(namesOf(load(order)), "Loop.rx2 Take.sd2 a.wav b.wav");
}

namespace {

// Run as a user who may not read what root locked away.
void importDenied(const QString &base)
{
    QList<QUrl> urls;
    for (const char *item : {"locked-top", "mixed", "only-locked", "secret.wav"})
        urls << QUrl::fromLocalFile(base + "/" + item);
    const AudioImportResult result = AudioImporter().load(urls, {}, {}).wait();
    EXPECT_EQ(namesOf(result), "ok.wav");
    EXPECT_EQ(result.rejections,
              (QList<ImportRejection>{{"locked-top", text::folderUnreadable},
                                      {"locked", text::folderAccess},
                                      {"locked", text::folderAccess},
                                      {"secret.wav", text::cannotRead}}));
}

} // namespace

// Root reads everything, so the import runs in a child process with the ids of "nobody".
TEST(ImporterAccess, UnreadableFoldersAndFilesAreRefusedByName)
{
    if (const QByteArray base = qgetenv("TAMPOD_DENIED_IMPORT"); !base.isEmpty()) {
        importDenied(QFile::decodeName(base));
        if (!::testing::Test::HasFailure())
            std::fputs("denied-import-passed\n", stdout);
        return;
    }
    TempDir dir;
    for (const char *path : {"locked-top", "mixed/locked", "only-locked/locked"})
        ASSERT_TRUE(QDir(dir.path()).mkpath(path));
    for (const char *path : {"locked-top/a.wav", "mixed/ok.wav", "mixed/locked/b.wav", "secret.wav"})
        audioFile(dir.file(path));
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto everyone = owner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    for (const auto &[path, mode] : std::initializer_list<std::pair<const char *, QFile::Permissions>>{
             {".", everyone}, {"mixed", everyone}, {"only-locked", everyone}, {"locked-top", owner},
             {"mixed/locked", owner}, {"only-locked/locked", owner}, {"mixed/ok.wav", QFile::ReadOwner | QFile::ReadOther},
             {"secret.wav", QFile::ReadOwner}})
        ASSERT_TRUE(QFile::setPermissions(dir.file(path), mode));
    if (::geteuid() != 0)
        return importDenied(dir.path());

    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAMPOD_DENIED_IMPORT", dir.path());
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    const QStringList arguments{"--reuid=65534", "--regid=65534", "--clear-groups", QCoreApplication::applicationFilePath(),
                                "--gtest_filter=ImporterAccess.UnreadableFoldersAndFilesAreRefusedByName"};
    const ProgramRun child = runProgram("setpriv", arguments, environment);
    EXPECT_TRUE(child.succeeded) << child.described("setpriv", arguments) << child.output.constData();
    EXPECT_TRUE(child.output.contains("denied-import-passed")) << child.output.constData();
}
