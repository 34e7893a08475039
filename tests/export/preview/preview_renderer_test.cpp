// What an audition may ask for, and the files the renderer makes for it: none for Original,
// the real export's output for Processed (a separate-mono pair joined into one stereo file),
// each in a job folder that goes with the prepared preview, on every path.
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

AudioTrack channel(const QString &path)
{
    writeFile(path, "headerless samples");
    AudioTrack track = trackOf(path);
    track.sd2Format = SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = 3000;
    return track;
}

} // namespace

TEST(PreviewRequest, IssuesByMode)
{
    const QString vinylLevels = QStringLiteral("Choose Vinyl levels from 0 to 100%.");
    AudioTrack waiting = trackOf(QStringLiteral("/nowhere/take.sd2"));
    waiting.recovery = SD2Recovery{};
    ExportDefaults loud, badDepth = settingsFor(ExportFormat::wav, 12);
    loud.vinyl.amount = 101;
    ExportDefaults quietHum;
    quietHum.vinyl.humAmount = -1;
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

TEST(PreviewRenderer, SeparateMonoPairIsHeardAsOneJoinedFile)
{
    PreviewScene scene;
    makeFolder(scene.file("takes"));
    const JobFolder copyFolder(scene.store().makeDirectory());
    const QString copy = copyFolder.file("Stereo.wav");
    writeAudio(copy, 2, 44100, tone(3000, 2));
    AudioTrack pair = trackOf(scene.file("takes/take.L"));
    pair.pair = std::make_shared<const SD2PairAudio>(
        channel(scene.file("takes/take.L")), channel(scene.file("takes/take.R")),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(copy), 44100, 3000, "pair", 2, 2));
    ExportPreviewRequest request = previewOf(pair, ExportPreviewMode::processed, settingsFor(ExportFormat::wav, 24));
    request.pairOutput = SD2PairOutput::separateMono;

    const Prepared preview = prepare(*scene.renderer(), request);
    EXPECT_EQ(preview->url().fileName(), QStringLiteral("joined-preview.wav"));
    EXPECT_EQ(ffprobeStream(preview->url().toLocalFile()).trimmed(), QStringLiteral("pcm_s24le,44100,2,3000"));
    EXPECT_EQ(samplesOf(preview->url().toLocalFile()), samplesOf(copy));
    EXPECT_EQ(entriesOf(preview->directory()->toLocalFile()),
              (QStringList{"joined-preview.wav", "preview.L.wav", "preview.R.wav"}));
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
