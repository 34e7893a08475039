// A linked .L/.R pair exported as two mono files: names, contents and tempo of both files, the
// refusals that leave the folder as it was, and the publication killed before each of its
// file-system calls in turn, settled by the next launch into both files or neither.
#include "export_fixtures.h"

#include "files/temporary_audio_cleanup.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/raw_pcm_reader.h"
#include "sd2/sd2_metadata_reader.h"

#include "support/crash_points.h"

#include <QRegularExpression>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

constexpr std::int64_t pairFrames = linkedPairFrames;

AudioExportRequest separateMono(const AudioTrack &pair, ExportFormat format, const QString &base)
{
    AudioExportRequest request;
    request.track = pair;
    request.settings = settingsFor(format);
    request.destination = QUrl::fromLocalFile(base);
    request.pairOutput = SD2PairOutput::separateMono;
    return request;
}

// The channel c of interleaved stereo as big-endian 16-bit samples.
QByteArray bigEndianChannel(const std::vector<float> &stereo, int c)
{
    QByteArray out;
    for (size_t i = size_t(c); i < stereo.size(); i += 2) {
        const auto v = std::int16_t(std::lround(stereo[i] * 32768.0f));
        out += char((v >> 8) & 0xFF);
        out += char(v & 0xFF);
    }
    return out;
}

} // namespace

TEST(SD2PairExport, TwoMonoFilesWithTheirTempo)
{
    ExportScene scene;
    makeFolder(scene.file("takes"));
    makeFolder(scene.file("out"));
    std::vector<float> stereo;
    const AudioTrack pair = linkedPair(scene.store(), scene.file("takes"), &stereo);
    std::vector<double> progress;
    const AudioExportResult result =
        scene.run(separateMono(pair, ExportFormat::sd2, scene.file("out/take.sd2")), &progress);
    EXPECT_EQ(result.destination, QUrl::fromLocalFile(scene.file("out/take.L.sd2")));
    EXPECT_EQ(result.additionalDestinations, QList<QUrl>{QUrl::fromLocalFile(scene.file("out/take.R.sd2"))});
    EXPECT_EQ(result.frames, pairFrames);
    EXPECT_EQ(result.channels, 1u);
    EXPECT_EQ(entriesOf(scene.file("out")), (QStringList{"take.L.sd2", "take.R.sd2"}));
    for (const int c : {0, 1}) {
        const QString file = scene.file(c == 0 ? "out/take.L.sd2" : "out/take.R.sd2");
        EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(file)), (SD2Metadata{2, 44100, 1, 120.0, 120.0}));
        EXPECT_EQ(RawPCMReader::read(file, 44100, 1, 16).frames, pairFrames);
        EXPECT_EQ(readAll(file), bigEndianChannel(stereo, c));
    }
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);

    // Any output format: the names follow the chosen one.
    scene.run(separateMono(pair, ExportFormat::flac, scene.file("out/take.flac")));
    for (const char *name : {"out/take.L.flac", "out/take.R.flac"}) {
        EXPECT_EQ(ffprobeStream(scene.file(name)), QStringLiteral("flac,44100,1,%1").arg(pairFrames));
        EXPECT_EQ(runChecked("metaflac", {"--show-tag=BPM", scene.file(name)}), "BPM=120.0");
    }
}

TEST(SD2PairExport, RefusalsLeaveTheFolderAsItWas)
{
    ExportScene scene;
    makeFolder(scene.file("takes"));
    makeFolder(scene.file("out"));
    const AudioTrack pair = linkedPair(scene.store(), scene.file("takes"));
    writeFile(scene.file("out/take.R.sd2"), "an older right channel");
    EXPECT_EQ(scene.failure(separateMono(pair, ExportFormat::sd2, scene.file("out/take.sd2"))),
              int(Case::destinationExists));
    EXPECT_EQ(entriesOf(scene.file("out")), QStringList{"take.R.sd2"});
    EXPECT_EQ(readAll(scene.file("out/take.R.sd2")), "an older right channel");
    // A base whose channel names are the pair's own files.
    EXPECT_EQ(scene.failure(separateMono(pair, ExportFormat::sd2, scene.file("takes/take"))),
              int(Case::sourceDestinationConflict));
    // Only a pair can be split.
    EXPECT_EQ(thrownText<AudioExportError>([&] {
                  scene.run(separateMono(trackOf(scene.file("takes/take.L")), ExportFormat::sd2, scene.file("out/x.sd2")));
              }),
              "Separate mono output requires an SD2 pair.");
}

TEST(SD2PairExport, KilledAtEveryStepTheNextLaunchLeavesBothOrNeither)
{
    ExportScene scene;
    makeFolder(scene.file("takes"));
    const AudioTrack pair = linkedPair(scene.store(), scene.file("takes"));
    const QString root = scene.file("launches");
    const QString out = scene.file("out");
    bool published = false;
    for (int n = 1;; ++n) {
        SCOPED_TRACE("killed before call " + std::to_string(n));
        QDir(out).removeRecursively();
        makeFolder(out);
        writeFile(out + "/take.sd2", "the user's own file");
        const bool died = diesAtCall(n, [&](const auto &arm) {
            arm();
            const auto store = std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(root));
            ExportEnvironment environment;
            environment.store = [store]() -> TemporaryAudioStore & { return *store; };
            AudioFileExporter::run(separateMono(pair, ExportFormat::sd2, out + "/take.sd2"), {}, {}, environment);
        });
        if (!exists(root)) // the next launch's store makes it before its cleanup
            makeFolder(root, 0700);
        const auto report = TemporaryAudioCleanup::run(QUrl::fromLocalFile(root), TemporaryAudioCleanup::launchEntryBudget);
        EXPECT_EQ(report.errors + report.pendingPairs, 0) << report.failureCodes.join(QLatin1Char(',')).toStdString();
        const QStringList left = entriesOf(out);
        const bool both = left.contains("take.L.sd2") && left.contains("take.R.sd2");
        EXPECT_TRUE(left == QStringList{"take.sd2"} || left == (QStringList{"take.L.sd2", "take.R.sd2", "take.sd2"}))
            << left.join(' ').toStdString();
        EXPECT_EQ(readAll(out + "/take.sd2"), "the user's own file");
        EXPECT_EQ(entriesOf(root), QStringList{}) << "nothing stays in the store";
        if (both) {
            EXPECT_EQ(SD2MetadataReader::read(QUrl::fromLocalFile(out + "/take.L.sd2"))->bpm, 120.0);
            EXPECT_EQ(QFileInfo(out + "/take.L.sd2").size(), QFileInfo(out + "/take.R.sd2").size());
        }
        EXPECT_TRUE(both || !published) << "once published, a pair stays published at later points";
        published = both;
        if (!died)
            break;
        ASSERT_LT(n, 2000) << "never ends";
    }
    EXPECT_TRUE(published);
}
