#include "export/export_defaults.h"
#include "export/export_option_catalog.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace tampod;
using Json = StrictJson::Json;
using F = ExportFormat;
namespace Catalog = ExportOptionCatalog;

namespace {

using Rates = std::vector<std::int64_t>;

ExportDefaults settings(const std::function<void(ExportDefaults &)> &change)
{
    ExportDefaults record;
    change(record);
    return record;
}

// The options of a format with one change, stored as the format's entry.
void setOptions(ExportDefaults &record, const std::function<void(EncodingOptions &)> &change)
{
    EncodingOptions options = EncodingOptions::initial(record.format);
    change(options);
    record.encodingByFormat[ExportFormats::rawValue(record.format)] = options;
}

VinylOptions vinylFrom(const char *json)
{
    return VinylOptions::fromJson(Json::parse(json));
}

template <typename Decode>
bool refused(Decode decode)
{
    try {
        decode();
    } catch (const JsonError &) {
        return true;
    }
    return false;
}

} // namespace

TEST(ExportOptionCatalog, FormatTables)
{
    const Rates allRates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400, 192000};
    const EncodingOptions plain;
    for (F format : {F::wav, F::aiff, F::sd2, F::flac, F::bwf, F::au})
        EXPECT_EQ(Catalog::sampleRates(format, plain), allRates);
    EXPECT_EQ(Catalog::sampleRates(F::m4aAAC, plain), (Rates{44100, 48000}));
    EncodingOptions he = plain;
    he.aacProfile = AACProfile::he;
    EXPECT_EQ(Catalog::bitRates(F::aac, he, 48000), (Rates{16, 20, 24, 28, 32, 40, 48, 56, 64, 80}));
    EXPECT_EQ(Catalog::bitRates(F::aac, he, 48001), (Rates{64, 80, 96, 112, 128, 160, 192, 224, 256, 320}));
    EXPECT_EQ(Catalog::bitRates(F::mp3, plain, 44100).front(), 64);
    EncodingOptions lossless = plain;
    lossless.wmaProfile = WMAProfile::lossless;
    EXPECT_FALSE(Catalog::hasRateControl(F::wma, lossless));
    EXPECT_TRUE(Catalog::usesBitDepth(F::wma, lossless));
    EXPECT_EQ(Catalog::sampleEncodings(F::au).size(), 4u);
    EXPECT_EQ(Catalog::sampleEncodings(F::wav), std::vector{SampleEncoding::integer});

    struct Initial {
        F format;
        BitRateMode mode;
        std::int64_t kbps, quality;
    };
    for (const Initial &row : {Initial{F::mp3, BitRateMode::constant, 192, 2}, {F::m4aAAC, BitRateMode::constant, 256, 96},
                               {F::aac, BitRateMode::constant, 256, 96}, {F::oggVorbis, BitRateMode::variable, 192, 5},
                               {F::wav, BitRateMode::constant, 192, 96}}) {
        const auto options = EncodingOptions::initial(row.format);
        EXPECT_EQ(options.rateMode, row.mode);
        EXPECT_EQ(options.bitRateKbps, row.kbps);
        EXPECT_EQ(options.quality, row.quality);
        EXPECT_EQ(options.dialogueLevel, -31);
    }
    EXPECT_EQ(ExportFormats::currentChoices(), (std::array{F::wav, F::aiff, F::flac, F::m4aAAC, F::sd2}));
    EXPECT_FALSE(ExportFormats::isInCurrentScope(F::bwf));
    EXPECT_TRUE(ExportFormats::isNativeCompressedOutput(F::m4aAAC));
    EXPECT_FALSE(ExportFormats::isNativeCompressedOutput(F::m4aALAC));
    EXPECT_EQ(RawValue::text(SampleEncoding::muLaw), QString::fromUtf8("8-bit \u03bc-law"));
    EXPECT_EQ(title(SampleEncoding::integer), "Integer PCM");
    EXPECT_EQ(Catalog::advancedNotes(F::aac), QString::fromUtf8("Raw ADTS export is not implemented. Choose M4A \u2014 AAC "
                                                                "for tagged AAC output."));
    EXPECT_TRUE(Catalog::advancedNotes(F::ac3).contains(QString::fromUtf8("(\u221231\u2026\u22121 dB)")));
    for (F format : ExportFormats::allCases())
        EXPECT_FALSE(Catalog::advancedNotes(format).isEmpty());
}

TEST(EncodingOptions, JsonEveryKeyRequired)
{
    const char *ogg = R"j({"channels":"Keep source layout","sampleEncoding":"Signed integer PCM","rateMode":"Variable (VBR)",
        "bitRateKbps":192,"quality":5,"aacProfile":"AAC-LC","compressionLevel":5,"apeCompression":"Normal",
        "wmaProfile":"Standard","dialogueLevel":-31})j";
    const auto options = EncodingOptions::fromJson(Json::parse(ogg));
    EXPECT_EQ(options, EncodingOptions::initial(F::oggVorbis));
    EXPECT_EQ(options.toJson(), Json::parse(ogg));
    auto broken = [&](const char *key, Json value) {
        Json json = Json::parse(ogg);
        value.is_null() ? void(json.erase(key)) : void(json[key] = value);
        return refused([&] { EncodingOptions::fromJson(json); });
    };
    EXPECT_TRUE(broken("dialogueLevel", nullptr));
    EXPECT_TRUE(broken("rateMode", "VBR"));
    EXPECT_TRUE(broken("quality", 5.5));
    EXPECT_TRUE(broken("channels", 1));
}

TEST(VinylOptions, DecodingMigratesOlderForms)
{
    struct Case {
        const char *json;
        std::int64_t amount, hum;
    };
    const Case cases[] = {
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
    for (const Case &c : cases) {
        const VinylOptions options = vinylFrom(c.json);
        EXPECT_EQ(options.amount, c.amount) << c.json;
        EXPECT_EQ(options.humAmount, c.hum) << c.json;
    }
    const VinylOptions empty = vinylFrom("{}");
    EXPECT_FALSE(empty.enabled);
    EXPECT_EQ(empty.sample, VinylSample::one);
    EXPECT_EQ(empty.seed, 6071218779994740273ULL);

    for (std::uint64_t seed : {VinylOptions::defaultSeed, std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
        VinylOptions options;
        options.seed = seed;
        options.amount = 150;
        EXPECT_EQ(VinylOptions::fromJson(Json::parse(StrictJson::dump(options.toJson()))), options) << seed;
    }
    for (const char *bad : {R"({"seed":-1})", R"({"seed":1.5})", R"({"amount":"30"})", R"({"sample":"lo-fi_vinyl4"})",
                            R"({"enabled":1})", R"({"crackle":0.5})", R"([])"})
        EXPECT_TRUE(refused([&] { vinylFrom(bad); })) << bad;
}

TEST(VinylOptions, Summary)
{
    VinylOptions options;
    EXPECT_EQ(options.summary(), "vinyl Off");
    options.enabled = true;
    options.amount = 0;
    options.humEnabled = true;
    options.humAmount = 0;
    EXPECT_EQ(options.summary(), "vinyl Vinyl 1 amount 0%, hum 0%; pattern 54414d504f445631; bypassed (zero levels)");
    options.sample = VinylSample::three;
    options.humEnabled = false;
    options.amount = 5;
    options.seed = 0xab;
    EXPECT_EQ(options.summary(), "vinyl Vinyl 3 amount 5%, hum off; pattern ab; active");
}

TEST(ExportDefaults, JsonForm)
{
    const auto minimal = ExportDefaults::decode(R"({"sampleRate":44100,"bitDepth":16,"format":"aiff"})");
    EXPECT_EQ(minimal, settings([](ExportDefaults &r) {
                  r.format = F::aiff;
                  r.bitDepth = 16;
                  r.sampleRate = 44100;
              }));
    EXPECT_EQ(minimal.vinyl.amount, 30);

    // Entries of formats this version does not know, and levels out of range, are kept as saved.
    ExportDefaults full = settings([](ExportDefaults &r) {
        r.format = F::mp3;
        setOptions(r, [](EncodingOptions &o) { o.rateMode = BitRateMode::average; });
        r.encodingByFormat["opus"] = EncodingOptions();
        r.loFi = LoFiTreatment::twelveBit;
        r.clippingDB = 13;
        r.vinyl.seed = 0xFEDCBA9876543210ULL;
        r.vinyl.humAmount = -4;
    });
    EXPECT_EQ(ExportDefaults::decode(full.encode()), full);

    const Json written = full.toJson();
    for (const char *key : {"format", "bitDepth", "sampleRate", "encodingByFormat", "loFi", "clippingDB", "vinyl"})
        EXPECT_TRUE(written.contains(key)) << key;
    auto broken = [&](const char *key, Json value) {
        Json json = written;
        value.is_null() ? void(json.erase(key)) : void(json[key] = value);
        return refused([&] { ExportDefaults::fromJson(json); });
    };
    EXPECT_TRUE(broken("sampleRate", nullptr));
    EXPECT_TRUE(broken("format", "ogg"));
    EXPECT_TRUE(broken("bitDepth", 24.5));
    EXPECT_TRUE(broken("loFi", "4bit"));
    EXPECT_TRUE(broken("vinyl", "on"));
    EXPECT_TRUE(broken("encodingByFormat", Json{{"wav", {{"channels", "Mono"}}}}));
    EXPECT_FALSE(broken("clippingDB", nullptr));
    EXPECT_TRUE(refused([] { ExportDefaults::decode("not json"); }));
}

TEST(ExportDefaults, ValidationIssuesInOrder)
{
    const QString vinylLevels = "Choose Vinyl amounts from 0 to 100%.";
    const QString vinylOutput = "Vinyl requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those options or turn Vinyl off.";
    const QString clipRange = "Choose clipping Off or a drive amount from +1 to +12 dB.";
    const QString clipOutput = "Clipping requires supported WAV, AIFF, FLAC, AAC or SD2 output. Choose those options or turn clipping Off.";
    const QString depth = "Choose a supported bit depth. 8-bit file storage is available only for WAV.";
    const QString loFi = "Lo-fi treatment requires 16/24-bit WAV, AIFF, FLAC or SD2, or AAC output. Choose those options or turn treatment Off.";
    const QString scope = QString::fromUtf8(" output is unavailable. Your saved choice is retained; choose WAV, AIFF, FLAC, M4A \u2014 AAC or SD2 to continue.");
    const QString rate = "Choose a sample rate offered for this format/profile; the saved rate was retained.";
    const QString encoding = " output is unavailable. Your saved choice is retained; choose Integer PCM to continue.";
    const QString heV2 = "HE-AAC v2 requires stereo; choose Stereo or another AAC profile.";
    const QString rateMode = "Choose a supported rate-control preference.";
    const QString quality = "Choose a quality value within this codec's range.";
    const QString bitRate = "Choose a bitrate offered for this format/profile; the previous target was retained.";
    const QString flac = "FLAC uses native automatic compression. Select Automatic; the saved numeric preference is retained until you change it.";
    const QString aac = "AAC export currently supports AAC-LC with constant bitrate. Select those options.";
    const QString dialogue = QString::fromUtf8("Dialogue level must be \u221231\u2026\u22121 dB.");

    struct Case {
        const char *what;
        std::function<void(ExportDefaults &)> change;
        QStringList issues;
    };
    const Case cases[] = {
        {"built-in", [](ExportDefaults &) {}, {}},
        {"mp3", [](ExportDefaults &r) { r.format = F::mp3; r.sampleRate = 44100; }, {"MP3" + scope}},
        {"8-bit wav lo-fi", [](ExportDefaults &r) { r.bitDepth = 8; r.loFi = LoFiTreatment::eightBit; }, {loFi}},
        {"8-bit aiff clipped", [](ExportDefaults &r) { r.format = F::aiff; r.bitDepth = 8; r.clippingDB = 3; }, {clipOutput, depth}},
        {"aac vbr", [](ExportDefaults &r) { r.format = F::m4aAAC; setOptions(r, [](EncodingOptions &o) { o.rateMode = BitRateMode::variable; }); }, {rateMode, aac}},
        {"aac vbr quality", [](ExportDefaults &r) { r.format = F::m4aAAC; setOptions(r, [](EncodingOptions &o) { o.rateMode = BitRateMode::variable; o.quality = 128; }); }, {rateMode, quality, aac}},
        {"flac level 8", [](ExportDefaults &r) { r.format = F::flac; setOptions(r, [](EncodingOptions &o) { o.compressionLevel = 8; }); }, {flac}},
        {"clipping 13", [](ExportDefaults &r) { r.clippingDB = 13; }, {clipRange}},
        {"clipping 13 mp3", [](ExportDefaults &r) { r.format = F::mp3; r.sampleRate = 44100; r.clippingDB = 13; }, {clipRange, clipOutput, "MP3" + scope}},
        {"vinyl levels", [](ExportDefaults &r) { r.vinyl.amount = 101; r.vinyl.humAmount = -1; }, {vinylLevels}},
        {"float wav vinyl", [](ExportDefaults &r) { r.vinyl.enabled = true; setOptions(r, [](EncodingOptions &o) { o.sampleEncoding = SampleEncoding::floatingPoint; }); },
         {vinylOutput, "32-bit floating point" + encoding}},
        {"au float", [](ExportDefaults &r) { r.format = F::au; setOptions(r, [](EncodingOptions &o) { o.sampleEncoding = SampleEncoding::floatingPoint; }); }, {"AU" + scope}},
        {"aac he-v2 mono", [](ExportDefaults &r) { r.format = F::aac; r.sampleRate = 32000; setOptions(r, [](EncodingOptions &o) { o.aacProfile = AACProfile::heV2; o.channels = ExportChannels::mono; }); },
         {"AAC" + scope, heV2, bitRate}},
        {"ogg quality", [](ExportDefaults &r) { r.format = F::oggVorbis; setOptions(r, [](EncodingOptions &o) { o.quality = -2; }); }, {QString::fromUtf8("OGG \u2014 Vorbis") + scope, quality}},
        {"ac3", [](ExportDefaults &r) { r.format = F::ac3; r.sampleRate = 8000; setOptions(r, [](EncodingOptions &o) { o.dialogueLevel = 0; o.bitRateKbps = 641; }); },
         {"AC3" + scope, rate, bitRate, dialogue}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(settings(c.change).validationIssues(), c.issues) << c.what;

    const auto eightBit = settings([](ExportDefaults &r) { r.bitDepth = 8; });
    EXPECT_TRUE(eightBit.supportsClipping());
    EXPECT_FALSE(eightBit.supportsLoFi());
    EXPECT_FALSE(ExportDefaults().hasAudioTreatment());
    EXPECT_FALSE(settings([](ExportDefaults &r) { r.vinyl.humEnabled = true; r.vinyl.humAmount = 50; }).hasAudioTreatment());
    EXPECT_TRUE(settings([](ExportDefaults &r) { r.vinyl.enabled = true; r.vinyl.amount = 0; r.vinyl.humEnabled = true; }).hasAudioTreatment());
}

TEST(ExportDefaults, DiagnosticSummary)
{
    EXPECT_EQ(settings([](ExportDefaults &r) { r.bitDepth = 8; r.clippingDB = 3; r.loFi = LoFiTreatment::twelveBit; }).diagnosticSummary(),
              "WAV; 48000 Hz; Keep source layout; lo-fi 12-bit; clipping drive +3 dB; vinyl Off; 8-bit integer; Unsigned integer PCM");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::m4aAAC; }).diagnosticSummary(),
              QString::fromUtf8("M4A \u2014 AAC; 48000 Hz; Keep source layout; lo-fi off; clipping drive off; vinyl Off; AAC-LC; Constant (CBR); 256 kbps"));
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::oggVorbis; }).diagnosticSummary().section("; ", 6),
              "Variable (VBR); quality 5");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::flac; setOptions(r, [](EncodingOptions &o) { o.compressionLevel = 8; }); })
                  .diagnosticSummary().section("; ", 6),
              "24-bit integer; unsupported compression 8");
    EXPECT_EQ(settings([](ExportDefaults &r) { r.format = F::ac3; }).diagnosticSummary().section("; ", 6),
              "Constant (CBR); 192 kbps; dialnorm -31 dB");
}
