// What an audition may ask for, and the files the renderer makes for it: none for Original,
// the real export's output for Processed (a separate-mono pair's two files, in any format,
// decoded and joined into one 24-bit stereo file), each in a job folder that goes with the
// prepared preview, on every path.
#include "preview_fixtures.h"

#include "library/sd2_pair_audio.h"

using namespace tampod;
using namespace tampod::test;

namespace {

using Prepared = std::shared_ptr<const PreparedExportPreview>;

Prepared prepare(ExportPreviewRenderer &renderer, const ExportPreviewRequest &request,
                 std::vector<double> *progress = nullptr, CancellationToken token = {})
{
    return renderer.prepare(request, [progress](double p) { if (progress) progress->push_back(p); }, token).wait();
}

constexpr std::int64_t pairFrames = 3000;

AudioTrack channel(const QString &path)
{
    writeFile(path, "headerless samples");
    AudioTrack track = trackOf(path);
    track.sd2Format = SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = pairFrames;
    return track;
}

// takes/take.L and take.R of the scene, linked, playing from a 16-bit stereo copy.
AudioTrack linkedPair(PreviewScene &scene, std::vector<float> *samples = nullptr)
{
    const QString copy = scene.store().makeDirectory().toLocalFile() + "/Stereo.wav";
    writeAudio(copy, 2, 44100, tone(pairFrames, 2));
    if (samples)
        *samples = samplesOf(copy);
    AudioTrack pair = trackOf(scene.file("takes/take.L"));
    pair.pair = std::make_shared<const SD2PairAudio>(
        channel(scene.file("takes/take.L")), channel(scene.file("takes/take.R")),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(copy), 44100, pairFrames, "pair", 2, 2));
    return pair;
}

std::vector<float> channelOf(const std::vector<float> &stereo, int c)
{
    std::vector<float> out;
    for (size_t i = size_t(c); i < stereo.size(); i += 2)
        out.push_back(stereo[i]);
    return out;
}

std::vector<float> rawSamplesOf(const QString &path, int bits)
{
    AudioFileReader reader(path, AudioFileReader::RawPCMFormat{44100, 1, bits});
    std::vector<float> all(size_t(reader.length()));
    std::int64_t at = 0;
    while (const std::int64_t n = reader.readFloatInterleaved(all.data() + at, 8192))
        at += n;
    all.resize(size_t(at));
    return all;
}

// Infinite when the lengths differ.
double largestDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size())
        return INFINITY;
    double largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(double(a[i]) - double(b[i])));
    return largest;
}

} // namespace

TEST(PreviewRequest, IssuesByMode)
{
    const QString vinylLevels = QStringLiteral("Choose Vinyl levels from 0 to 100%.");
    AudioTrack waiting = trackOf(QStringLiteral("/nowhere/take.sd2"));
    waiting.recovery = SD2Recovery{};
    ExportDefaults loud, badDepth = settingsFor(ExportFormat::wav, 12);
    loud.vinyl.amount = 101;
    ExportDefaults quietHum, full;
    quietHum.vinyl.humAmount = -1;
    full.vinyl.amount = 100;
    full.vinyl.humAmount = 100;
    const AudioTrack plain = trackOf(QStringLiteral("/nowhere/take.wav"));
    const struct {
        AudioTrack track;
        ExportPreviewMode mode;
        ExportDefaults settings;
        SD2PairOutput pair;
        QStringList issues;
    } rows[] = {
        {plain, ExportPreviewMode::vinyl, loud, SD2PairOutput::stereo, {vinylLevels}},
        {plain, ExportPreviewMode::hum, loud, SD2PairOutput::stereo, {vinylLevels}},
        {plain, ExportPreviewMode::vinyl, quietHum, SD2PairOutput::stereo, {vinylLevels}},
        {plain, ExportPreviewMode::vinyl, full, SD2PairOutput::stereo, {}},
        {plain, ExportPreviewMode::hum, full, SD2PairOutput::stereo, {}},
        // Only the levels count for the sample auditions.
        {waiting, ExportPreviewMode::hum, badDepth, SD2PairOutput::separateMono, {}},
        {plain, ExportPreviewMode::original, {}, SD2PairOutput::stereo, {}},
        {plain, ExportPreviewMode::processed, {}, SD2PairOutput::separateMono,
         {QStringLiteral("Separate mono output requires an SD2 pair.")}},
        {waiting, ExportPreviewMode::original, badDepth, SD2PairOutput::stereo,
         badDepth.validationIssues() << QStringLiteral("Choose an SD2 recovery rate before previewing.")},
    };
    for (const auto &row : rows) {
        ExportPreviewRequest request = previewOf(row.track, row.mode, row.settings);
        request.pairOutput = row.pair;
        EXPECT_EQ(request.issues(), row.issues) << RawValue::text(row.mode).toStdString();
    }

    PreviewScene scene;
    ExportPreviewRenderer renderer(nullptr, scene.storeProvider());
    ExportPreviewRequest refused = previewOf(waiting, ExportPreviewMode::processed, badDepth);
    EXPECT_EQ(thrownText<AudioExportError>([&] { prepare(renderer, refused); }), refused.issues().join('\n'));
}

TEST(PreviewRenderer, OriginalPlaysTheSourceOrTheLoopAsItIs)
{
    PreviewScene scene;
    const QString source = scene.file("take.wav");
    writeAudio(source, 2, 44100, tone(4410, 2));
    const AudioTrack track = trackOf(source);
    ExportPreviewRenderer renderer(nullptr, scene.storeProvider());
    std::vector<double> progress;

    const Prepared whole = prepare(renderer, previewOf(track, ExportPreviewMode::original), &progress);
    EXPECT_EQ(whole->url(), track.audioURL());
    EXPECT_EQ(whole->repetitions(), 1);
    EXPECT_FALSE(whole->directory());

    ExportPreviewRequest looped = previewOf(track, ExportPreviewMode::original);
    looped.loop = sectionLoop(scene.store(), track, 100, 1100, 3);
    const Prepared loop = prepare(renderer, looped, &progress);
    EXPECT_EQ(loop->url(), looped.loop->section->url());
    EXPECT_EQ(loop->repetitions(), 3);
    EXPECT_FALSE(loop->directory());
    EXPECT_EQ(progress, std::vector<double>{});
    EXPECT_EQ(scene.jobFolders().size(), 1); // the section's own
}

TEST(PreviewRenderer, ProcessedIsTheExportInAFolderOfItsOwn)
{
    PreviewScene scene;
    const QString source = scene.file("take.wav");
    writeAudio(source, 2, 44100, tone(44100, 2));
    const auto renderer = scene.renderer();
    const struct {
        ExportFormat format;
        QString name;
        QString codec;
    } rows[] = {
        {ExportFormat::wav, "preview.wav", "pcm_s24le"},
        {ExportFormat::flac, "preview.flac", "flac"},
        {ExportFormat::m4aAAC, "preview.m4a", "aac"},
    };
    for (const auto &row : rows) {
        std::vector<double> progress;
        Prepared preview = prepare(*renderer, previewOf(trackOf(source), ExportPreviewMode::processed,
                                                        settingsFor(row.format, 24, 48000)),
                                   &progress);
        EXPECT_EQ(preview->url().fileName(), row.name);
        ASSERT_TRUE(preview->directory());
        EXPECT_EQ(preview->url().adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash), *preview->directory());
        EXPECT_TRUE(ffprobeStream(preview->url().toLocalFile()).startsWith(row.codec + ",48000,2"));
        EXPECT_FALSE(progress.empty());
        const QString folder = preview->directory()->toLocalFile();
        EXPECT_EQ(entriesOf(folder), QStringList{row.name});
        preview.reset();
        EXPECT_FALSE(exists(folder));
    }
}

TEST(PreviewRenderer, SeparateMonoPairIsHeardAsOneJoinedFileInEveryFormat)
{
    PreviewScene scene;
    makeFolder(scene.file("takes"));
    std::vector<float> source;
    const AudioTrack pair = linkedPair(scene, &source);
    const struct {
        ExportFormat format;
        int bits;
        QString extension;
        double precision; // of the channel files against the source; 0: lossy, not compared
    } rows[] = {
        {ExportFormat::wav, 8, "wav", 1.0 / 128},     {ExportFormat::wav, 16, "wav", 1.0 / 32768},
        {ExportFormat::wav, 24, "wav", 0},            {ExportFormat::aiff, 24, "aiff", 0},
        {ExportFormat::flac, 16, "flac", 1.0 / 32768}, {ExportFormat::m4aAAC, 16, "m4a", -1},
        {ExportFormat::sd2, 16, "sd2", 1.0 / 32768},  {ExportFormat::sd2, 24, "sd2", 0},
    };
    const auto renderer = scene.renderer();
    for (const auto &row : rows) {
        SCOPED_TRACE(ExportFormats::rawValue(row.format).toStdString() + " " + std::to_string(row.bits));
        ExportPreviewRequest request =
            previewOf(pair, ExportPreviewMode::processed, settingsFor(row.format, row.bits));
        request.pairOutput = SD2PairOutput::separateMono;
        Prepared preview = prepare(*renderer, request);
        const QString folder = preview->directory()->toLocalFile();
        const QStringList channelFiles = {"preview.L." + row.extension, "preview.R." + row.extension};
        EXPECT_EQ(entriesOf(folder), QStringList{"joined-preview.wav"} + channelFiles);
        ASSERT_EQ(preview->url().fileName(), QStringLiteral("joined-preview.wav"));
        EXPECT_EQ(ffprobeStream(preview->url().toLocalFile()).trimmed(),
                  QStringLiteral("pcm_s24le,44100,2,%1").arg(pairFrames));

        const std::vector<float> joined = samplesOf(preview->url().toLocalFile());
        for (int c = 0; c < 2; ++c) {
            const QString file = folder + "/" + channelFiles[c];
            const std::vector<float> rendered =
                row.format == ExportFormat::sd2 ? rawSamplesOf(file, row.bits) : samplesOf(file);
            // The join only rounds each decoded sample to 24 bits.
            EXPECT_LE(largestDifference(channelOf(joined, c), rendered), 1.0 / (1 << 24) + 1e-9) << c;
            if (row.precision >= 0) {
                EXPECT_LE(largestDifference(channelOf(joined, c), channelOf(source, c)), row.precision + 1e-6) << c;
            }
        }
        preview.reset();
        EXPECT_FALSE(exists(folder));
    }
}

TEST(PreviewRenderer, CancellingDuringTheJoinLeavesNoFolder)
{
    PreviewScene scene;
    makeFolder(scene.file("takes"));
    ExportPreviewRequest request =
        previewOf(linkedPair(scene), ExportPreviewMode::processed, settingsFor(ExportFormat::sd2, 16));
    request.pairOutput = SD2PairOutput::separateMono;
    CancellationSource cancel;
    // The export's last report comes once both channel files are written; the join follows.
    EXPECT_THROW(scene.renderer()
                     ->prepare(request, [&](double p) { if (p == 1.0) cancel.cancel(); }, cancel.token())
                     .wait(),
                 Cancelled);
}

TEST(PreviewRenderer, CancellingDuringTheExportLeavesNoFolder)
{
    PreviewScene scene;
    const QString source = scene.file("take.wav");
    writeAudio(source, 2, 44100, tone(441000, 2));
    CancellationSource cancel;
    cancel.cancel();
    EXPECT_THROW(prepare(*scene.renderer(),
                         previewOf(trackOf(source), ExportPreviewMode::processed, settingsFor(ExportFormat::flac, 16)),
                         nullptr, cancel.token()),
                 Cancelled);
    CancellationSource midway;
    std::vector<double> progress;
    const auto renderer = scene.renderer();
    EXPECT_THROW(renderer
                     ->prepare(previewOf(trackOf(source), ExportPreviewMode::processed, settingsFor(ExportFormat::wav)),
                               [&](double p) { progress.push_back(p); if (p > 0.3) midway.cancel(); }, midway.token())
                     .wait(),
                 Cancelled);
    EXPECT_FALSE(progress.empty());
}
