#include "export/export_defaults.h"
#include "export/export_option_catalog.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace tampod;
using Json = StrictJson::Json;
using F = ExportFormat;
using Rates = std::vector<std::int64_t>;
namespace Catalog = ExportOptionCatalog;

namespace {

using Change = std::function<void(ExportDefaults &)>;

ExportDefaults settings(const Change &change)
{
    ExportDefaults record;
    change(record);
    return record;
}

// Stores the chosen format's initial options with one change.
Change options(F format, const std::function<void(EncodingOptions &)> &change)
{
    return [=](ExportDefaults &record) {
        record.format = format;
        EncodingOptions options = EncodingOptions::initial(format);
        change(options);
        record.encodingByFormat[ExportFormats::rawValue(format)] = options;
    };
}

bool refused(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const JsonError &) {
        return true;
    }
    return false;
}

// Whether decode refuses the JSON with key removed (null) or replaced.
template <typename Decode>
bool refusedWith(Json json, const char *key, const Json &value, Decode decode)
{
    value.is_null() ? void(json.erase(key)) : void(json[key] = value);
    return refused([&] { decode(json); });
}

} // namespace

TEST(ExportOptionCatalog, FormatTables)
{
    const EncodingOptions plain;
    for (F format : {F::wav, F::aiff, F::sd2, F::flac, F::bwf, F::au})
        EXPECT_EQ(Catalog::sampleRates(format, plain), ExportDefaults::sampleRates());
    EXPECT_EQ(ExportDefaults::sampleRates().size(), 13u);
    EXPECT_EQ(Catalog::sampleRates(F::m4aAAC, plain), (Rates{44100, 48000}));
    EncodingOptions he = plain, lossless = plain;
    he.aacProfile = AACProfile::he;
    lossless.wmaProfile = WMAProfile::lossless;
    EXPECT_EQ(Catalog::bitRates(F::aac, he, 48000), (Rates{16, 20, 24, 28, 32, 40, 48, 56, 64, 80}));
    EXPECT_EQ(Catalog::bitRates(F::aac, he, 48001), (Rates{64, 80, 96, 112, 128, 160, 192, 224, 256, 320}));
    EXPECT_FALSE(Catalog::hasRateControl(F::wma, lossless));
    EXPECT_TRUE(Catalog::usesBitDepth(F::wma, lossless));
    EXPECT_EQ(Catalog::sampleEncodings(F::au).size(), 4u);
    EXPECT_EQ(Catalog::sampleEncodings(F::bwf), std::vector{SampleEncoding::integer});
    const auto ogg = EncodingOptions::initial(F::oggVorbis), mp3 = EncodingOptions::initial(F::mp3);
    EXPECT_EQ(std::tuple(ogg.rateMode, ogg.bitRateKbps, ogg.quality), std::tuple(BitRateMode::variable, 192, 5));
    EXPECT_EQ(std::tuple(mp3.bitRateKbps, mp3.quality, EncodingOptions::initial(F::aac).bitRateKbps), std::tuple(192, 2, 256));
    EXPECT_EQ(RawValue::text(SampleEncoding::muLaw), QString::fromUtf8("8-bit \u03bc-law"));
    EXPECT_EQ(Catalog::advancedNotes(F::aac), QString::fromUtf8("Raw ADTS export is not implemented. Choose M4A \u2014 AAC for tagged AAC output."));
    EXPECT_TRUE(Catalog::advancedNotes(F::ac3).contains(QString::fromUtf8("(\u221231\u2026\u22121 dB)")));
}

TEST(EncodingOptions, EveryKeyRequired)
{
    const Json ogg = Json::parse(R"j({"channels":"Keep source layout","sampleEncoding":"Signed integer PCM",
        "rateMode":"Variable (VBR)","bitRateKbps":192,"quality":5,"aacProfile":"AAC-LC","compressionLevel":5,
        "apeCompression":"Normal","wmaProfile":"Standard","dialogueLevel":-31})j");
    EXPECT_EQ(EncodingOptions::fromJson(ogg), EncodingOptions::initial(F::oggVorbis));
    EXPECT_EQ(EncodingOptions::initial(F::oggVorbis).toJson(), ogg);
    const std::pair<const char *, Json> broken[] = {{"dialogueLevel", nullptr}, {"rateMode", "VBR"}, {"quality", 5.5}, {"channels", 1}};
    for (const auto &[key, value] : broken)
        EXPECT_TRUE(refusedWith(ogg, key, value, EncodingOptions::fromJson)) << key;
}

TEST(VinylOptions, DecodingMigratesOlderFormsAndKeepsSeedsExact)
{
    const std::tuple<const char *, std::int64_t, std::int64_t> cases[] = {
        {R"({"amount":30,"humAmount":15})", 27, 13},
        {R"({"amount":40,"humAmount":25})", 31, 17},
        {R"({"amount":100,"humAmount":100,"humEnabled":true})", 57, 38},
        {R"({"amount":0,"humAmount":0})", 0, 0},
        {R"({})", 31, 17},
        {R"({"crackle":0,"pops":0})", 0, 16},
        {R"({"crackle":0,"amount":30,"humAmount":15})", 27, 13},
        {R"({"sample":"lo-fi_vinyl2","crackle":0,"pops":0})", 31, 17},
        {R"({"amount":150,"humAmount":15})", 150, 15},
        {R"({"amount":150,"levelScaleVersion":"any"})", 150, 25},
        {R"({"amount":30,"humAmount":15,"levelScaleVersion":2,"unknown":[1]})", 30, 15},
    };
    for (const auto &[json, amount, hum] : cases) {
        const auto options = VinylOptions::fromJson(Json::parse(json));
        EXPECT_EQ(std::pair(options.amount, options.humAmount), std::pair(amount, hum)) << json;
    }
    const auto empty = VinylOptions::fromJson(Json::object());
    EXPECT_EQ(std::tuple(empty.enabled, empty.sample, empty.seed), std::tuple(false, VinylSample::one, 6071218779994740273ULL));
    for (std::uint64_t seed : {VinylOptions::defaultSeed, std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
        VinylOptions options;
        options.seed = seed;
        EXPECT_EQ(VinylOptions::fromJson(StrictJson::parse(StrictJson::dump(options.toJson()))), options) << seed;
    }
    for (const char *bad : {R"({"seed":-1})", R"({"seed":1.5})", R"({"seed":18446744073709551616})", R"({"amount":"30"})",
                            R"({"sample":"lo-fi_vinyl4"})", R"({"enabled":1})", R"({"crackle":0.5})", "[]"})
        EXPECT_TRUE(refused([&] { VinylOptions::fromJson(Json::parse(bad)); })) << bad;
}

TEST(VinylOptions, Summary)
{
    EXPECT_EQ(VinylOptions().summary(), "vinyl Off");
    EXPECT_EQ((VinylOptions{true, VinylSample::one, 0, true, 0, VinylOptions::defaultSeed}.summary()),
              "vinyl Vinyl 1 amount 0%, hum 0%; pattern 54414d504f445631; bypassed (zero levels)");
    EXPECT_EQ((VinylOptions{true, VinylSample::three, 5, false, 0, 0xab}.summary()), "vinyl Vinyl 3 amount 5%, hum off; pattern ab; active");
}

TEST(ExportDefaults, JsonForm)
{
    const auto minimal = ExportDefaults::decode(R"({"sampleRate":44100,"bitDepth":16,"format":"aiff"})");
    EXPECT_EQ(minimal, settings([](ExportDefaults &r) { r.format = F::aiff, r.bitDepth = 16, r.sampleRate = 44100; }));
    EXPECT_EQ(minimal.vinyl.amount, 30);
    // Unknown formats' entries, out-of-range values and a seed above 2^63 are kept as saved.
    ExportDefaults full = settings(options(F::mp3, [](EncodingOptions &o) { o.rateMode = BitRateMode::average; }));
    full.encodingByFormat["opus"] = EncodingOptions();
    full.loFi = LoFiTreatment::twelveBit;
    full.clippingDB = 13;
    full.vinyl.seed = 0xFEDCBA9876543210ULL;
    full.vinyl.humAmount = -4;
    EXPECT_EQ(ExportDefaults::decode(full.encode()), full);
    const Json written = full.toJson();
    EXPECT_EQ(written.size(), 7u);
    const std::pair<const char *, Json> broken[] = {{"sampleRate", nullptr}, {"format", "ogg"}, {"bitDepth", 24.5}, {"loFi", "4bit"},
                                                    {"vinyl", "on"}, {"encodingByFormat", Json{{"wav", {{"channels", "Mono"}}}}}};
    for (const auto &[key, value] : broken)
        EXPECT_TRUE(refusedWith(written, key, value, ExportDefaults::fromJson)) << key;
    EXPECT_FALSE(refusedWith(written, "clippingDB", nullptr, ExportDefaults::fromJson));
    EXPECT_TRUE(refused([] { ExportDefaults::decode("not json"); }));
}

TEST(ExportDefaults, ValidationIssuesInOrder)
{
    // By rule; 7 and 9 follow a title, 11 has three sentences.
    const QString issue[] = {
        {},
        "Choose Vinyl amounts from 0 to 100%.",
        "Vinyl requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those options or turn Vinyl off.",
        "Choose clipping Off or a drive amount from +1 to +12 dB.",
        "Clipping requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those options or turn clipping Off.",
        "Choose a supported bit depth. 8-bit file storage is available only for WAV.",
        "Lo-fi treatment requires 16/24-bit WAV, AIFF, FLAC or SD2, or AAC output. Choose those options or turn treatment Off.",
        QString::fromUtf8(" output is unavailable. Your saved choice is retained; choose WAV, AIFF, FLAC, M4A \u2014 AAC or SD2 to continue."),
        "Choose a sample rate offered for this format/profile; the saved rate was retained.",
        " output is unavailable. Your saved choice is retained; choose Integer PCM to continue.",
        "HE-AAC v2 requires stereo; choose Stereo or another AAC profile.",
        "Choose a supported rate-control preference.",
        "FLAC uses native automatic compression. Select Automatic; the saved numeric preference is retained until you change it.",
        "AAC export currently supports AAC-LC with average bitrate. Select those options.",
        QString::fromUtf8("Dialogue level must be \u221231\u2026\u22121 dB."),
    };
    const QString quality = "Choose a quality value within this codec's range.";
    const QString bitRate = "Choose a bitrate offered for this format/profile; the previous target was retained.";
    using O = EncodingOptions &;
    const std::tuple<const char *, Change, QStringList> cases[] = {
        {"built-in", [](ExportDefaults &) {}, {}},
        {"mp3", [](ExportDefaults &r) { r.format = F::mp3, r.sampleRate = 44100; }, {"MP3" + issue[7]}},
        {"8-bit wav lo-fi", [](ExportDefaults &r) { r.bitDepth = 8, r.loFi = LoFiTreatment::eightBit; }, {issue[6]}},
        {"8-bit aiff clipped", [](ExportDefaults &r) { r.format = F::aiff, r.bitDepth = 8, r.clippingDB = 3; }, {issue[4], issue[5]}},
        // M4A offers one rate mode: any other stored reads as it, and nothing of VBR is checked.
        {"aac vbr", options(F::m4aAAC, [](O o) { o.rateMode = BitRateMode::variable; }), {}},
        {"aac he vbr 128", options(F::m4aAAC, [](O o) { o.aacProfile = AACProfile::he, o.rateMode = BitRateMode::variable, o.quality = 128; }), {issue[13]}},
        {"mp3 constrained", [](ExportDefaults &r) { options(F::mp3, [](O o) { o.rateMode = BitRateMode::constrained, o.quality = 10; })(r), r.sampleRate = 44100; },
         {"MP3" + issue[7], issue[11]}},
        {"mp3 vbr 10", [](ExportDefaults &r) { options(F::mp3, [](O o) { o.rateMode = BitRateMode::variable, o.quality = 10; })(r), r.sampleRate = 44100; },
         {"MP3" + issue[7], quality}},
        {"flac level 8", options(F::flac, [](O o) { o.compressionLevel = 8; }), {issue[12]}},
        {"clipping 13", [](ExportDefaults &r) { r.clippingDB = 13; }, {issue[3]}},
        {"clipping 13 mp3", [](ExportDefaults &r) { r.format = F::mp3, r.sampleRate = 44100, r.clippingDB = 13; }, {issue[3], issue[4], "MP3" + issue[7]}},
        {"vinyl levels", [](ExportDefaults &r) { r.vinyl.amount = 101, r.vinyl.humAmount = -1; }, {issue[1]}},
        {"float wav vinyl", [](ExportDefaults &r) { options(F::wav, [](O o) { o.sampleEncoding = SampleEncoding::floatingPoint; })(r), r.vinyl.enabled = true; },
         {issue[2], "32-bit floating point" + issue[9]}},
        {"au float", options(F::au, [](O o) { o.sampleEncoding = SampleEncoding::floatingPoint; }), {"AU" + issue[7]}},
        {"aac he-v2 mono", [](ExportDefaults &r) { options(F::aac, [](O o) { o.aacProfile = AACProfile::heV2, o.channels = ExportChannels::mono; })(r), r.sampleRate = 32000; },
         {"AAC" + issue[7], issue[10], bitRate}},
        {"ogg quality", options(F::oggVorbis, [](O o) { o.quality = -2; }), {QString::fromUtf8("OGG \u2014 Vorbis") + issue[7], quality}},
        {"ac3", [](ExportDefaults &r) { options(F::ac3, [](O o) { o.dialogueLevel = 0, o.bitRateKbps = 641; })(r), r.sampleRate = 8000; },
         {"AC3" + issue[7], issue[8], bitRate, issue[14]}},
    };
    for (const auto &[what, change, issues] : cases)
        EXPECT_EQ(settings(change).validationIssues(), issues) << what;

    const auto eightBit = settings([](ExportDefaults &r) { r.bitDepth = 8; });
    EXPECT_TRUE(eightBit.supportsClipping());
    EXPECT_FALSE(eightBit.supportsLoFi() || ExportDefaults().hasAudioTreatment());
    EXPECT_FALSE(settings([](ExportDefaults &r) { r.vinyl.humEnabled = true, r.vinyl.humAmount = 50; }).hasAudioTreatment());
    EXPECT_TRUE(settings([](ExportDefaults &r) { r.vinyl.enabled = r.vinyl.humEnabled = true, r.vinyl.amount = 0; }).hasAudioTreatment());
}

TEST(ExportDefaults, AStoredRateModeTheFormatDoesNotOfferReadsAsItsOneMode)
{
    // An M4A average kept from older settings exports as M4A's one mode, with nothing changed.
    ExportDefaults older = settings(options(F::m4aAAC, [](EncodingOptions &o) { o.rateMode = BitRateMode::average; }));
    const ExportDefaults kept = older;
    EXPECT_EQ(older.options().rateMode, BitRateMode::constant);
    EXPECT_EQ(older.validationIssues(), QStringList());
    EXPECT_EQ(older.diagnosticSummary().section("; ", 6), "AAC-LC; Average (ABR); 256 kbps");
    EXPECT_EQ(older, kept) << "read, never rewritten";
    EXPECT_EQ(older.encodingByFormat.at("m4aAAC").rateMode, BitRateMode::average);
    // Where a format offers several, a stored one it does not offer stays, and is refused.
    const ExportDefaults mp3 = settings(options(F::mp3, [](EncodingOptions &o) { o.rateMode = BitRateMode::constrained; }));
    EXPECT_EQ(mp3.options().rateMode, BitRateMode::constrained);
    EXPECT_TRUE(mp3.validationIssues().contains("Choose a supported rate-control preference."));
}

TEST(ExportDefaults, DiagnosticSummary)
{
    EXPECT_EQ(settings([](ExportDefaults &r) { r.bitDepth = 8, r.clippingDB = 3, r.loFi = LoFiTreatment::twelveBit; }).diagnosticSummary(),
              "WAV; 48000 Hz; Keep source layout; lo-fi 12-bit; clipping drive +3 dB; vinyl Off; 8-bit integer; Unsigned integer PCM");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::m4aAAC; }).diagnosticSummary().section("; ", 6), "AAC-LC; Average (ABR); 256 kbps");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::oggVorbis; }).diagnosticSummary().section("; ", 6), "Variable (VBR); quality 5");
    EXPECT_EQ(settings(options(F::flac, [](EncodingOptions &o) { o.compressionLevel = 8; })).diagnosticSummary().section("; ", 6),
              "24-bit integer; unsupported compression 8");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::ac3; }).diagnosticSummary().section("; ", 6), "Constant (CBR); 192 kbps; dialnorm -31 dB");
}
