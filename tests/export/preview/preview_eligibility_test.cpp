// Whether an Original/Processed comparison is offered: the ordered rules, the source formats the
// inspection reads (a FLAC file's depth from its STREAMINFO), and refreshes.
#include "preview_fixtures.h"

#include "export/preview/export_preview_eligibility.h"

using namespace tampod;
using namespace tampod::test;

namespace {

ExportDefaults with(ExportFormat format, std::int64_t bits, std::int64_t rate,
                    const std::function<void(ExportDefaults &)> &change = {})
{
    ExportDefaults settings = settingsFor(format, bits, rate);
    if (change)
        change(settings);
    return settings;
}

} // namespace

TEST(PreviewEligibility, ComparisonRulesInOrder)
{
    const QString subtle = QStringLiteral("Any audible difference may be very subtle.");
    const PreviewSourceFormat wav48x24{48000, 2, 24}, float48{48000, 2, std::nullopt}, wav96x24{96000, 2, 24},
        mono8{48000, 1, 8};
    const auto mono = [](ExportDefaults &s) {
        EncodingOptions options = EncodingOptions::initial(s.format);
        options.channels = ExportChannels::mono;
        s.encodingByFormat[ExportFormats::rawValue(s.format)] = options;
    };
    const struct {
        PreviewSourceFormat source;
        ExportDefaults settings;
        std::optional<QString> reason;
        std::optional<QString> advisory;
    } rows[] = {
        {wav48x24, with(ExportFormat::m4aAAC, 24, 48000, [](ExportDefaults &s) { s.clippingDB = 3; }),
         "Lossy encoding changes the audio. Preview uses the encoded output.", {}},
        {wav48x24, with(ExportFormat::wav, 24, 48000, [](ExportDefaults &s) { s.clippingDB = 3; }),
         "Export effects are enabled.", {}},
        {wav48x24, with(ExportFormat::wav, 8, 48000), "8-bit output reduces sample resolution.", {}},
        {float48, with(ExportFormat::wav, 8, 48000), "8-bit output reduces sample resolution.", {}},
        {mono8, with(ExportFormat::wav, 8, 48000), std::nullopt, {}},
        {wav48x24, with(ExportFormat::wav, 24, 48000, mono), "Stereo audio will be mixed to mono.", {}},
        {mono8, with(ExportFormat::wav, 8, 48000, mono), std::nullopt, {}},
        {wav48x24, with(ExportFormat::wav, 24, 32000), "Output sample rate reduces bandwidth.", {}},
        {PreviewSourceFormat{32000, 2, 24}, with(ExportFormat::wav, 24, 32000), std::nullopt, {}},
        {PreviewSourceFormat{44100, 2, 24}, with(ExportFormat::wav, 24, 44100), std::nullopt, {}},
        {wav96x24, with(ExportFormat::wav, 24, 44100), "Output resolution differs from the source.", subtle},
        {float48, with(ExportFormat::wav, 24, 48000),
         "Source precision is non-integer or unknown; conversion comparison allowed.", {}},
        {float48, with(ExportFormat::wav, 24, 44100), "Output resolution differs from the source.", {}},
        {wav48x24, with(ExportFormat::wav, 24, 48000), std::nullopt, {}},
        {wav48x24, with(ExportFormat::wav, 16, 48000), "Output resolution differs from the source.", subtle},
        {PreviewSourceFormat{44100, 2, 16}, with(ExportFormat::flac, 16, 48000),
         "Output resolution differs from the source.", subtle},
    };
    int index = 0;
    for (const auto &row : rows) {
        const auto comparison = row.source.comparison(row.settings);
        EXPECT_EQ(comparison ? std::optional(comparison->reason) : std::nullopt, row.reason) << index;
        if (comparison) {
            EXPECT_EQ(comparison->advisory, row.advisory) << index;
        }
        ++index;
    }
}

TEST(PreviewEligibility, InspectionOfSources)
{
    PreviewScene scene;
    const QString wav = scene.file("take24.wav"), floats = scene.file("take.caf"), flac = scene.file("take.flac");
    writeAudio(wav, 2, 48000, tone(480, 2, 48000), 24);
    writeAudio(floats, 1, 44100, tone(441, 1), 32, AudioFileType::caf);
    writeAudio(flac, 2, 44100, tone(441, 2), 16, AudioFileType::flac);
    const QString many = scene.make("eight.wav", "anullsrc=r=48000:cl=7.1", {"-t", "0.1"});
    AudioTrack waiting = trackOf(wav);
    waiting.recovery = SD2Recovery{};

    const struct {
        AudioTrack track;
        std::optional<PreviewSourceFormat> format;
    } rows[] = {
        {trackOf(wav), PreviewSourceFormat{48000, 2, 24}},
        {trackOf(floats), PreviewSourceFormat{44100, 1, std::nullopt}},
        {trackOf(flac), PreviewSourceFormat{44100, 2, 16}},
        {trackOf(many), std::nullopt},
        {waiting, std::nullopt},
        {trackOf(scene.file("gone.wav")), std::nullopt},
    };
    ExportPreviewEligibility eligibility;
    for (const auto &row : rows) {
        eligibility.refresh(row.track);
        // A source that fails at once may be decided before refresh returns.
        if (eligibility.isChecking()) {
            EXPECT_EQ(eligibility.unavailableReason({}), QStringLiteral("Checking the source audio…"));
        }
        ASSERT_TRUE(pumpUntil([&] { return !eligibility.isChecking(); }));
        EXPECT_EQ(eligibility.source(), row.format) << row.track.url().fileName().toStdString();
    }
    EXPECT_EQ(eligibility.unavailableReason({}),
              QStringLiteral("Preview unavailable. Choose Restore File Access… and select the original file, then try again."));

    // The latest refresh wins: the inspection in flight is cancelled and never lands.
    eligibility.refresh(trackOf(flac));
    eligibility.refresh(trackOf(wav));
    ASSERT_TRUE(pumpUntil([&] { return !eligibility.isChecking(); }));
    pumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(eligibility.source(), (PreviewSourceFormat{48000, 2, 24}));
    EXPECT_EQ(eligibility.unavailableReason(settingsFor(ExportFormat::wav, 24, 48000)),
              QStringLiteral("No audio changes to compare."));
    EXPECT_EQ(eligibility.unavailableReason(settingsFor(ExportFormat::wav, 16, 48000)), std::nullopt);
}
