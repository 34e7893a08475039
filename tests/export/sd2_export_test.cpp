// SD2 output: the data fork as headerless big-endian PCM, the resource fork with parameters and
// tempo in the file's extended attribute, the check before publication, and what libsndfile,
// sox and our own reader make of the result.
#include "export_fixtures.h"

#include "export/engine/sd2_export_verification.h"
#include "import/audio_importer.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_resources.h"
#include "tags/sd2_document_tempo.h"
#include "support/fake_fork_backend.h"

#include <QFileInfo>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

QByteArray forkOf(const QString &path)
{
    return ForkStore().read(path, SD2MetadataReader::inspectionLimit).value_or(QByteArray());
}

ExportDefaults sd2(std::int64_t bits = 16, std::int64_t rate = 44100)
{
    return settingsFor(ExportFormat::sd2, bits, rate);
}

} // namespace

TEST(SD2Export, DataForkResourceForkAndOtherReaders)
{
    ExportScene scene;
    const QString source = scene.file("in.wav");
    writeAudio(source, 2, 44100, tone(10000, 2));
    const AudioExportResult result = scene.run(scene.request(trackOf(source, 120.0), sd2(), "out.sd2"));
    EXPECT_EQ(result.frames, 10000);
    const QString out = scene.file("out.sd2");

    // The audio is exactly sox's big-endian raw rendering of the same samples.
    EXPECT_EQ(readAll(out), runCheckedBytes("sox", {source, "-t", "raw", "-e", "signed", "-b", "16", "-B", "-"}));
    const QByteArray fork = forkOf(out);
    EXPECT_TRUE(fork.contains("tamPOD_BPM=120.0"));
    const qsizetype record = fork.indexOf(QByteArray("\x00\x01", 2) + QByteArray(8, '\0') + "\x01\x20");
    ASSERT_GE(record, 0);
    EXPECT_EQ(fork.mid(record + 288, 4), QByteArray("\x00\x02\x00\x00", 4));
    for (const char *name : {"sample-size", "sample-rate", "channels"})
        EXPECT_TRUE(fork.contains(name)) << name;
    EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(out)), (SD2Metadata{2, 44100, 2, 120.0, 120.0}));
    // Our own importer takes it as an SD2 file with its parameters and tempo.
    AudioImporter::Services services;
    services.store = scene.environment.store;
    const AudioImportResult imported = AudioImporter(services).load({QUrl::fromLocalFile(out)}, {}, {}).wait();
    ASSERT_EQ(imported.tracks.size(), 1);
    EXPECT_EQ(imported.tracks[0].bpm, 120.0);
    EXPECT_EQ(imported.tracks[0].sd2Parameters(), (SD2Metadata{2, 44100, 2, 120.0, 120.0}));
    EXPECT_DOUBLE_EQ(imported.tracks[0].duration, 10000 / 44100.0);

    // The fork as libsndfile keeps it beside a copy: a raw "._" file.
    makeFolder(scene.file("copy"));
    writeFile(scene.file("copy/out.sd2"), readAll(out));
    writeFile(scene.file("copy/._out.sd2"), fork);
    const QByteArray info = runChecked("sndfile-info", {scene.file("copy/out.sd2")});
    EXPECT_TRUE(info.contains("Format      : 0x00160002")) << info.toStdString(); // SD2, 16-bit PCM
    EXPECT_TRUE(info.contains("Sample Rate : 44100"));
    EXPECT_TRUE(info.contains("Channels    : 2"));
    EXPECT_TRUE(info.contains("Frames      : 10000"));
}

TEST(SD2Export, DepthsRatesLayoutsAndLoops)
{
    ExportScene scene;
    const QString source = scene.file("in.wav");
    writeAudio(source, 2, 48000, tone(4800, 2, 48000), 24);
    const AudioTrack track = trackOf(source, 98.76);
    // bits, rate, layout, repeats
    const std::tuple<int, int, ExportChannels, int> rows[] = {{24, 48000, ExportChannels::source, 0},
                                                              {16, 44100, ExportChannels::mono, 0},
                                                              {24, 96000, ExportChannels::stereo, 3}};
    int index = 0;
    for (const auto &[bits, rate, layout, repeats] : rows) {
        ExportDefaults settings = sd2(bits, rate);
        settings.encodingByFormat["sd2"] = EncodingOptions::initial(ExportFormat::sd2);
        settings.encodingByFormat["sd2"].channels = layout;
        const QString name = QStringLiteral("out%1.sd2").arg(index++);
        AudioExportRequest request = scene.request(track, settings, name);
        if (repeats)
            request.loop = sectionLoop(scene.store(), track, 0, 4800, repeats);
        const AudioExportResult result = scene.run(request);
        const int channels = layout == ExportChannels::mono ? 1 : 2;
        EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(scene.file(name))),
                  (SD2Metadata{bits / 8, rate, channels, 98.76, SD2DocumentTempo::read(*SD2DocumentTempo::record(98.76))}));
        EXPECT_EQ(QFileInfo(scene.file(name)).size(), result.frames * channels * (bits / 8));
        EXPECT_LE(std::abs(result.frames - 4800 * std::max(repeats, 1) * rate / 48000), repeats ? 2 : 0);
    }
    // Untouched 24-bit samples go through as they are.
    EXPECT_EQ(readAll(scene.file("out0.sd2")),
              runCheckedBytes("sox", {source, "-t", "raw", "-e", "signed", "-b", "24", "-B", "-"}));
}

TEST(SD2Export, CompanionsFullDisksAndFileSystemsWithoutAttributes)
{
    ExportScene scene;
    const QString source = scene.file("in.wav");
    writeAudio(source, 1, 44100, tone(1000, 1));
    const AudioTrack track = trackOf(source, 120.0);
    writeFile(scene.file("._taken.sd2"), "a companion");
    makeFolder(scene.file(".AppleDouble"));
    writeFile(scene.file(".AppleDouble/double.sd2"), "a companion");
    EXPECT_EQ(scene.failure(scene.request(track, sd2(), "taken.sd2")), int(Case::destinationExists));
    EXPECT_EQ(scene.failure(scene.request(track, sd2(), "double.sd2")), int(Case::destinationExists));
    EXPECT_EQ(scene.failure(scene.request(track, settingsFor(ExportFormat::wav), "taken.sd2")), -1)
        << "only SD2 output minds companions";

    const auto backend = std::make_shared<FakeForkBackend>();
    scene.environment.forks = ForkStore(backend);
    for (const int error : {ENOTSUP, ENOSPC, EIO}) {
        backend->writeError = error;
        EXPECT_EQ(scene.failure(scene.request(track, sd2(), "nowhere.sd2")), int(Case::storage)) << error;
        EXPECT_FALSE(exists(scene.file("nowhere.sd2")));
    }
}

TEST(SD2Export, VerificationOfWrittenFiles)
{
    TempDir dir;
    const QString path = dir.file("v.sd2");
    const QUrl url = QUrl::fromLocalFile(path);
    const ExportDefaults settings = sd2(16, 44100);
    const QByteArray plain = SD2ResourceFork::parameters(2, 44100, 2);
    const auto backend = std::make_shared<FakeForkBackend>();
    const ForkStore forks(backend);
    const auto verdict = [&](int channels, std::optional<double> bpm) {
        return thrownText<Error>([&] { SD2ExportVerification::verify(url, settings, channels, bpm, forks); });
    };
    const QString failed = AudioExportError::description(Case::verificationFailed);

    backend->put(ForkStore::Source::netatalkAttribute, plain);
    writeFile(path, QByteArray(1'000'000, '\0'));
    EXPECT_EQ(verdict(2, std::nullopt), "<nothing thrown>");
    EXPECT_EQ(verdict(1, std::nullopt), failed);
    EXPECT_EQ(verdict(2, 120.0), failed) << "a tempo was expected";
    writeFile(path, QByteArray(1'000'002, '\0'));
    EXPECT_EQ(verdict(2, std::nullopt), failed) << "not a whole number of frames";
    writeFile(path, QByteArray());
    EXPECT_EQ(verdict(2, std::nullopt), failed);

    writeFile(path, QByteArray(400, '\0'));
    backend->put(ForkStore::Source::netatalkAttribute, SD2TempoMetadata::adding(0.0001, plain));
    EXPECT_EQ(verdict(2, 0.0001), "<nothing thrown>") << "no 16.16 word: the precise tempo alone";
    backend->put(ForkStore::Source::netatalkAttribute, SD2TempoMetadata::adding(120, plain));
    EXPECT_EQ(verdict(2, 120.0), "<nothing thrown>");
    // A companion that disagrees with the fork is the reader's conflict, not a failed check.
    writeFile(dir.file("._v.sd2"), plain);
    EXPECT_EQ(verdict(2, 120.0), SD2MetadataError::description(SD2MetadataError::Case::conflicting));
    backend->places.clear();
    QFile::remove(dir.file("._v.sd2"));
    EXPECT_EQ(verdict(2, std::nullopt), failed) << "no fork at all";
}
