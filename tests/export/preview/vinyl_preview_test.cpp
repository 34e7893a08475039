// The Vinyl and Hum auditions: length, format and progress of the minute, its determinism, the
// silent cases, refusals and cancellation without a job folder left, and the Hum's level
// against the same settings' export.
#include "preview_fixtures.h"

#include "export/treatments/vinyl_sample_stream.h"
#include "export/treatments/vinyl_texture.h"

#include <algorithm>

using namespace tampod;
using namespace tampod::test;

namespace {

ExportPreviewRequest sample(ExportPreviewMode mode, const VinylOptions &vinyl)
{
    ExportDefaults settings;
    settings.vinyl = vinyl;
    return previewOf(trackOf(QStringLiteral("/nowhere/take.wav")), mode, settings);
}

std::vector<float> render(const PreviewScene &scene, const ExportPreviewRequest &request,
                          std::vector<double> *progress = nullptr)
{
    const auto preview = VinylPreviewRenderer::prepare(
        request, [progress](double p) { if (progress) progress->push_back(p); }, {}, scene.storeProvider());
    EXPECT_EQ(preview->url().fileName(), QStringLiteral("sample.caf"));
    EXPECT_EQ(preview->repetitions(), 1);
    AudioFileReader reader(preview->url().toLocalFile());
    EXPECT_EQ(reader.fileFormat().container, QStringLiteral("caf"));
    EXPECT_TRUE(reader.fileFormat().isFloat);
    EXPECT_EQ(reader.fileFormat().bitsPerChannel, 32);
    EXPECT_EQ(reader.fileSampleRate(), 48000);
    EXPECT_EQ(reader.channels(), 2);
    return samplesOf(preview->url().toLocalFile());
}

} // namespace

TEST(VinylPreview, OneMinuteWithItsProgressAndTheSameSamplesEachTime)
{
    PreviewScene scene;
    const ExportPreviewRequest request = sample(ExportPreviewMode::vinyl, vinylLevels(true, 60, true, 40));
    std::vector<double> progress;
    const std::vector<float> first = render(scene, request, &progress);
    EXPECT_EQ(first.size(), size_t(2 * 2'880'000));
    ASSERT_EQ(progress.size(), 352u);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(*std::max_element(first.begin(), first.end()), 0.01f);
    EXPECT_EQ(render(scene, request), first);
    EXPECT_EQ(scene.jobFolders(), QStringList{}); // each preview took its folder with it
}

TEST(VinylPreview, ADisabledLayerIsAMinuteOfSilence)
{
    PreviewScene scene;
    const struct {
        ExportPreviewMode mode;
        VinylOptions vinyl;
    } rows[] = {
        {ExportPreviewMode::vinyl, vinylLevels(false, 60, true, 40)},
        {ExportPreviewMode::hum, vinylLevels(true, 60, false, 40)},
        {ExportPreviewMode::hum, vinylLevels(false, 60, true, 40)},
    };
    for (const auto &row : rows) {
        const std::vector<float> audio = render(scene, sample(row.mode, row.vinyl));
        EXPECT_EQ(audio.size(), size_t(2 * 2'880'000));
        EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](float s) { return s == 0.0f; }));
    }
}

TEST(VinylPreview, RefusalsAndCancellationLeaveNoFolder)
{
    PreviewScene scene;
    for (const VinylOptions &levels : {vinylLevels(true, 101, true, 40), vinylLevels(true, 30, true, -1)}) {
        bool reported = false;
        EXPECT_EQ(thrownText<AudioExportError>([&] {
                      VinylPreviewRenderer::prepare(sample(ExportPreviewMode::hum, levels),
                                                    [&](double) { reported = true; }, {}, scene.storeProvider());
                  }),
                  QStringLiteral("Choose Vinyl levels from 0 to 100%."));
        EXPECT_FALSE(reported);
    }
    CancellationSource cancel;
    int reports = 0;
    EXPECT_THROW(VinylPreviewRenderer::prepare(
                     sample(ExportPreviewMode::vinyl, vinylLevels(true, 30, false, 0)),
                     [&](double) { if (++reports == 100) cancel.cancel(); }, cancel.token(), scene.storeProvider()),
                 Cancelled);
    EXPECT_EQ(reports, 100);
}

TEST(VinylPreview, HumSoundsAtTheExportsHumLevel)
{
    PreviewScene scene;
    const VinylOptions levels = vinylLevels(true, 70, true, 50);
    const std::vector<float> audio = render(scene, sample(ExportPreviewMode::hum, levels));
    // The export's own texture: its hum gain carries the Vinyl layer's share of the divisor.
    const VinylTexture exported(levels, 48000, 2, 2'880'000);
    auto hum = VinylSampleStream::named(QStringLiteral("vinyl_hum"), 48000, 2, levels.seed ^ VinylTexture::humSeedMask);
    const float *expected = hum->render(8192);
    for (std::int64_t i = 2 * 1000; i < 2 * 8192; ++i) // past the fade-in
        ASSERT_FLOAT_EQ(audio[size_t(i)], exported.humGain() * std::clamp(expected[i], -1.0f, 1.0f)) << i;
    EXPECT_LT(exported.humGain(), 0.25f / 1.25f); // less than without the texture's share
}
