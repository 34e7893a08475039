// The treatments: clipping and lo-fi numbers, the Vinyl gains, fades, seeds and the seamless
// loop of the synthesised samples, and treated exports end to end.
#include "export_fixtures.h"

#include "export/treatments/lofi_audio_writer.h"
#include "export/treatments/vinyl_resources.h"
#include "export/treatments/vinyl_texture.h"

#include <algorithm>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

QString errorText(const std::function<void()> &call)
{
    return thrownText<AudioExportError>(call);
}

const QString failedText = AudioExportError::description(Case::verificationFailed);

VinylOptions vinyl(std::int64_t amount, bool hum = false, std::int64_t humAmount = 15)
{
    VinylOptions options;
    options.enabled = true;
    options.amount = amount;
    options.humEnabled = hum;
    options.humAmount = humAmount;
    return options;
}

std::vector<float> render(VinylSampleStream &stream, std::int64_t frames, int channels)
{
    const float *block = stream.render(frames);
    return {block, block + frames * channels};
}

} // namespace

TEST(Treatments, ClippingAndLoFiNumbers)
{
    using LoFiAudioWriter::clip;
    using LoFiAudioWriter::requantize;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const auto &[in, drive, out] : {std::tuple(0.3f, 12, 1.0f), std::tuple(-0.9f, 1, -1.0f),
                                         std::tuple(0.3f, 0, 0.3f), std::tuple(nan, 3, 0.0f), std::tuple(inf, 3, 0.0f)})
        EXPECT_EQ(clip(in, drive), out) << in << " " << drive;
    EXPECT_NEAR(clip(0.3f, 6), 0.5986f, 1e-4);
    const std::tuple<float, LoFiTreatment, float> grid[] = {
        {0.5f, LoFiTreatment::eightBit, 0.5f},
        {0.99f, LoFiTreatment::eightBit, 127.0f / 128},
        {-1.0f, LoFiTreatment::eightBit, -1.0f},
        {1.0f / 256, LoFiTreatment::eightBit, 1.0f / 128}, // halfway rounds away from zero
        {-1.0f / 256, LoFiTreatment::eightBit, -1.0f / 128},
        {1.0f, LoFiTreatment::twelveBit, 2047.0f / 2048},
        {nan, LoFiTreatment::twelveBit, 0.0f},
        {0.123f, LoFiTreatment::off, 0.123f},
    };
    for (const auto &[in, treatment, out] : grid)
        EXPECT_EQ(requantize(in, treatment), out) << in;
}

TEST(Treatments, VinylGainsAndLayers)
{
    struct Row {
        VinylOptions options;
        std::optional<ExportPreviewMode> solo;
        float texture, hum, dry;
    };
    VinylOptions off = vinyl(30, true, 15);
    off.enabled = false;
    const Row rows[] = {
        {vinyl(30), std::nullopt, 0.09f / 1.09f, 0, 1 - 0.09f / 1.09f},
        {vinyl(30, true, 15), std::nullopt, 0.09f / 1.1125f, 0.0225f / 1.1125f, 1 - 0.1125f / 1.1125f},
        {vinyl(30, true, 15), ExportPreviewMode::vinyl, 0.09f / 1.1125f, 0, 0},
        {vinyl(30, true, 15), ExportPreviewMode::hum, 0, 0.0225f / 1.1125f, 0},
        {vinyl(30, true, 15), ExportPreviewMode::processed, 0.09f / 1.1125f, 0.0225f / 1.1125f, 0},
        {off, std::nullopt, 0, 0, 1},
        {off, ExportPreviewMode::hum, 0, 0, 0},
        {vinyl(0), std::nullopt, 0, 0, 1},
    };
    for (const Row &row : rows) {
        const VinylTexture texture(row.options, 48000, 2, 1000, row.solo);
        EXPECT_NEAR(texture.textureGain(), row.texture, 1e-6);
        EXPECT_NEAR(texture.humGain(), row.hum, 1e-6);
        EXPECT_NEAR(texture.dryGain(), row.dry, 1e-6);
    }
    EXPECT_NEAR(VinylTexture(vinyl(30), 48000, 2, 1000).textureGain(), 0.0826, 1e-4);

    // No layer sounds: the audio is left exactly as it was.
    for (const VinylOptions &silent : {vinyl(0), off}) {
        std::vector<float> audio = tone(500, 2);
        VinylTexture(silent, 44100, 2, 500).mix(audio.data(), 500);
        EXPECT_EQ(audio, tone(500, 2));
    }
    EXPECT_EQ(errorText([] { VinylTexture(vinyl(101), 48000, 2, 10); }), "Choose Vinyl levels from 0 to 100%.");
    VinylOptions loudHum = vinyl(10, true, -1);
    EXPECT_EQ(errorText([&] { VinylTexture(loudHum, 48000, 2, 10); }), "Choose Vinyl levels from 0 to 100%.");
}

TEST(Treatments, FadesOfFiveMillisecondsOverTheWholeLength)
{
    EXPECT_EQ(VinylTexture(vinyl(30), 48000, 1, 1).fadeFrames(), 1);
    EXPECT_EQ(VinylTexture(vinyl(30), 48000, 1, 3).fadeFrames(), 1);
    EXPECT_EQ(VinylTexture(vinyl(30), 48000, 1, 100).fadeFrames(), 49);
    EXPECT_EQ(VinylTexture(vinyl(30), 44100, 1, 100000).fadeFrames(), 220);

    // Into silence the layer is the stream scaled by the S-curve: 0 at both ends, full after
    // 240 frames (5 ms at 48 kHz). The mix spans two calls, which continue the same envelope.
    const std::int64_t length = 2000;
    VinylTexture texture(vinyl(100), 48000, 1, length);
    std::vector<float> mixed(length);
    texture.mix(mixed.data(), 700);
    texture.mix(mixed.data() + 700, length - 700);
    auto stream = VinylSampleStream::named("lo-fi_vinyl1", 48000, 1, VinylOptions::defaultSeed);
    const std::vector<float> layer = render(*stream, length, 1);
    for (std::int64_t i = 0; i < length; ++i) {
        const float x = std::clamp(float(std::min(i, length - 1 - i)) / 240.0f, 0.0f, 1.0f);
        EXPECT_FLOAT_EQ(mixed[i], x * x * (3 - 2 * x) * 0.5f * std::clamp(layer[i], -1.0f, 1.0f)) << i;
    }
    EXPECT_EQ(mixed.front(), 0.0f);
    EXPECT_EQ(mixed.back(), 0.0f);
    // A one-frame export gets no texture at all.
    float one = 0.25f;
    VinylTexture(vinyl(100), 48000, 1, 1).mix(&one, 1);
    EXPECT_EQ(one, 0.5f * 0.25f);
}

TEST(Treatments, SeedsAndTheSeamlessLoop)
{
    // The same seed gives the same texture; another seed starts the same loop elsewhere.
    auto a = VinylSampleStream::named("lo-fi_vinyl2", 48000, 2, 1000);
    auto b = VinylSampleStream::named("lo-fi_vinyl2", 48000, 2, 1000);
    auto c = VinylSampleStream::named("lo-fi_vinyl2", 48000, 2, 1010 + 3 * a->period());
    const std::vector<float> first = render(*a, 8192, 2);
    EXPECT_EQ(first, render(*b, 8192, 2));
    const std::vector<float> shifted = render(*c, 8000, 2);
    EXPECT_TRUE(std::equal(shifted.begin(), shifted.end(), first.begin() + 2 * 10));
    EXPECT_EQ(render(*a, 100, 2), render(*b, 100, 2)) << "consecutive renders continue the loop";

    // Across the end of a cycle: the last frames of the period, then the recording's frame
    // `period` itself (the crossfade's tail at weight 1), so the loop continues without a seam.
    const std::vector<float> recording = samplesOf(VinylResources::path("vinyl_hum"));
    float peak = 0;
    for (const float x : recording)
        peak = std::max(peak, std::abs(x));
    auto hum = VinylSampleStream::named("vinyl_hum", 48000, 1, 0);
    const std::int64_t period = hum->period();
    ASSERT_EQ(period, std::int64_t(recording.size()) - 4800);
    auto wrap = VinylSampleStream::named("vinyl_hum", 48000, 1, std::uint64_t(period - 10));
    const std::vector<float> wrapped = render(*wrap, 12, 1);
    for (int i = 0; i <= 10; ++i)
        EXPECT_EQ(wrapped[i], (1.0f / peak) * recording[size_t(period - 10 + i)]) << i;
    const float w = 1.0f / 4800;
    EXPECT_EQ(wrapped[11], (1.0f / peak) * (w * recording[1] + (1 - w) * recording[size_t(period + 1)]));
    EXPECT_EQ(render(*hum, 1, 1)[0], (1.0f / peak) * recording[size_t(period)]) << "seed 0 begins inside the crossfade";

    // Any other rate is converted from the 48 kHz loop, as repeatably.
    auto slow1 = VinylSampleStream::named("lo-fi_vinyl3", 44100, 2, 7);
    auto slow2 = VinylSampleStream::named("lo-fi_vinyl3", 44100, 2, 7);
    const std::vector<float> converted = render(*slow1, 8192, 2);
    EXPECT_EQ(converted, render(*slow2, 8192, 2));
    EXPECT_TRUE(std::all_of(converted.begin(), converted.end(), [](float x) { return std::isfinite(x); }));
}

TEST(Treatments, SamplesThatAreMissingOrUnsuitable)
{
    EXPECT_EQ(errorText([] { VinylSampleStream::named("lo-fi_vinyl9", 48000, 2, 1); }),
              "The bundled Vinyl sample is missing. Reinstall tamPOD and try again.");
    TempDir dir;
    const QString undecodable = "The bundled Vinyl sample cannot be decoded.";
    writeAudio(dir.file("44k.flac"), 1, 44100, tone(20000, 1, 44100), 16, AudioFileType::flac);
    writeAudio(dir.file("short.flac"), 1, 48000, tone(9599, 1, 48000), 16, AudioFileType::flac);
    writeAudio(dir.file("silent.flac"), 1, 48000, std::vector<float>(9600), 16, AudioFileType::flac);
    writeFile(dir.file("text.flac"), "not audio at all");
    for (const auto &[name, channels, text] :
         {std::tuple("44k.flac", 2, undecodable), std::tuple("short.flac", 2, undecodable),
          std::tuple("text.flac", 2, undecodable), std::tuple("silent.flac", 1, failedText)})
        EXPECT_EQ(errorText([&] { VinylSampleStream(dir.file(name), 48000, channels, 1); }), text) << name;
    EXPECT_EQ(errorText([&] { VinylSampleStream(VinylResources::path("vinyl_hum"), 48000, 3, 1); }), undecodable);
    auto stream = VinylSampleStream::named("vinyl_hum", 48000, 1, 1);
    for (const std::int64_t frames : {0, 8193})
        EXPECT_EQ(errorText([&] { stream->render(frames); }), failedText);
}

TEST(Treatments, TreatedExportsEndToEnd)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(30000, 2, 44100, 0.3));
    const AudioTrack track = trackOf(source);

    // Lo-fi: every 16-bit sample lies on the 8-bit grid. Clipping +12 dB drives 0.3 to full scale.
    ExportDefaults lofi = settingsFor(ExportFormat::wav, 16);
    lofi.loFi = LoFiTreatment::eightBit;
    lofi.clippingDB = 12;
    std::vector<double> progress;
    scene.run(scene.request(track, lofi, "lofi.wav"), &progress);
    const std::vector<float> crushed = samplesOf(scene.file("lofi.wav"));
    EXPECT_TRUE(std::all_of(crushed.begin(), crushed.end(), [](float x) { return x * 128 == std::round(x * 128); }));
    EXPECT_EQ(*std::max_element(crushed.begin(), crushed.end()), 127.0f / 128);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()) && progress.front() > 0);
    EXPECT_NE(std::find(progress.begin(), progress.end(), 0.65), progress.end()) << "the copy ends at 0.65";
    EXPECT_NEAR(progress.back(), 0.98, 1e-12);
    std::vector<double> untreated;
    scene.run(scene.request(track, settingsFor(ExportFormat::aiff), "plain.aiff"), &untreated);
    EXPECT_EQ(untreated.back(), 0.98) << "untreated, the copy is the whole render";

    // Vinyl: the same settings give the same audio; the intermediate is not left behind.
    ExportDefaults textured = settingsFor(ExportFormat::aiff, 24, 48000);
    textured.vinyl = vinyl(40, true, 20);
    scene.run(scene.request(track, textured, "a.aiff"));
    scene.run(scene.request(track, textured, "b.aiff"));
    EXPECT_EQ(samplesOf(scene.file("a.aiff")), samplesOf(scene.file("b.aiff")));
    EXPECT_NE(samplesOf(scene.file("a.aiff")), samplesOf(scene.file("lofi.wav")));
    runChecked("sndfile-info", {scene.file("a.aiff")});

    // An intermediate cut short is read, like any file cut short, at the frames it holds (the
    // export's check of its output is what refuses the loss), and written at exactly those.
    writeAudio(scene.file("converted.caf"), 2, 44100, tone(20000, 2), 32, AudioFileType::caf);
    QFile caf(scene.file("converted.caf"));
    ASSERT_TRUE(caf.resize(caf.size() - 40000));
    EXPECT_EQ(errorText([&] {
                  LoFiAudioWriter::write(scene.file("converted.caf"), scene.file("short.wav"),
                                         PCMOutputFormat::integer(ExportFormat::wav, 44100, 2, 16),
                                         LoFiTreatment::eightBit, 0, VinylOptions(), 1 << 30, {}, {});
              }),
              "<nothing thrown>");
    EXPECT_EQ(framesOf(scene.file("short.wav")), 15000);
}
