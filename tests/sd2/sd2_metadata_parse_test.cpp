#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_metadata.h"

#include "resource_fork_builder.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tampod;
using namespace tampod::test;
using Case = SD2MetadataError::Case;

namespace {

std::optional<Case> failure(const QByteArray &fork) { return failureOf([&] { SD2MetadataReader::parse(fork); }); }
SD2Metadata parse(const std::vector<Resource> &more) { return SD2MetadataReader::parse(buildFork(parameters("3", "48000", "2", more))); }
Resource precise(const char *text, std::uint8_t attributes = 0) { return {typeSBPM, 128, QByteArray("tamPOD_BPM=") + text, attributes}; }
// The native record of 120 or 98.759765625 BPM (the 16.16 word of 98.76) with its fixed bytes.
Resource native(std::uint32_t word, std::uint8_t attributes = 0)
{
    QByteArray record(420, '\0');
    record.replace(0, 2, QByteArray("\0\1", 2)).replace(288, 4, ByteWriter().u32be(word).data());
    return {typeSDDD, 1000, record, attributes};
}
const std::uint32_t word120 = 0x20000, word98 = 0x1A560;

} // namespace

TEST(SD2MetadataError, TextsShownToTheUser)
{
    const std::pair<Case, const char *> texts[] = {
        {Case::invalid, "SD2 resource metadata is damaged or incomplete. The original was not changed."},
        {Case::unsupported, "This SD2 metadata uses unsupported parameters or compressed resources. Supported: integer "
                            "8/16/24/32-bit PCM, mono/stereo, whole-number rates from 8–192 kHz."},
        {Case::tooLarge, "SD2 resource metadata exceeds the 4 MB inspection limit."},
        {Case::conflicting, "The SD2 resource fork and companion metadata disagree. Resolve the conflicting copies before importing."},
        {Case::access, "SD2 companion metadata cannot be read safely. Open its containing folder to grant access, and use "
                       "original files rather than symbolic links."},
    };
    for (const auto &[which, text] : texts)
        EXPECT_EQ(SD2MetadataError(which).message(), QString::fromUtf8(text));
}

TEST(SD2MetadataParse, ParametersAndTempos)
{
    const auto none = std::nullopt;
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(parameters("2", "44100.000", "1"))), (SD2Metadata{2, 44100, 1, none, none}));
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(parameters("0003", "192000", "2"))), (SD2Metadata{3, 192000, 2, none, none}));
    // Compressed, oversized or unreadable tempo resources are ignored, never an error; so are
    // unknown resources and names. A precise tempo off the native word gives way to it.
    const std::tuple<std::vector<Resource>, std::optional<double>, std::optional<double>> cases[] = {
        {{precise("98.76"), native(word98)}, 98.76, 98.759765625},   {{precise("120.004"), native(word120)}, 120, 120},
        {{precise("0.0001")}, 0.0001, none},                         {{precise("98.76", 0x01), native(word120)}, 120, 120},
        {{precise(" 98"), native(word120)}, 120, 120},               {{precise(QByteArray(118, '1').constData()), native(word120)}, 120, 120},
        {{{typeSBPM, 129, "tamPOD_BPM=98"}, native(word120)}, 120, 120}, {{precise("98.76"), native(word120, 0x01)}, 98.76, none},
        {{{typeSDDD, 1000, QByteArray(419, 1)}}, none, none},        {{{0x736E6420, 7, "anything", 0, "sample-size"}}, none, none},
        // At most 128 bytes.
        {{precise(QByteArray("98.76").append(112, '0').constData()), native(word98)}, 98.76, 98.759765625},
        {{precise(QByteArray("98.76").append(113, '0').constData()), native(word98)}, 98.759765625, 98.759765625},
    };
    for (const auto &[more, bpm, nativeBPM] : cases)
        EXPECT_EQ(parse(more), (SD2Metadata{3, 48000, 2, bpm, nativeBPM})) << more[0].data.toStdString();
}

TEST(SD2TempoMetadata, DecodesOnlyUsablePreciseTempos)
{
    EXPECT_EQ(SD2TempoMetadata::decode("tamPOD_BPM=120.0"), 120.0);
    EXPECT_EQ(SD2TempoMetadata::decode("tamPOD_BPM=1e2"), 100.0);
    for (const QByteArray bad : {"tamPOD_BPM=", "tamPOD_BPM=0", "tamPOD_BPM=-5", "tamPOD_BPM=inf", "tamPOD_BPM=nan", "tamPOD_BPM=12x",
                                 "TAMPOD_BPM=120", "120", "tamPOD_BPM=120\xC2\xA0"})
        EXPECT_EQ(SD2TempoMetadata::decode(bad), std::nullopt) << bad.toStdString();
    EXPECT_EQ(SD2TempoMetadata::decode(QByteArray("tamPOD_BPM=120\0", 15)), std::nullopt);
}

TEST(SD2MetadataParse, ParameterTextsAndSupportedRanges)
{
    const struct {
        const char *sampleBytes, *rate, *channels;
        std::optional<Case> outcome;
    } cases[] = {
        {"16", "44100", "2", Case::unsupported}, {"0", "44100", "2", Case::unsupported},  {"2", "44100", "3", Case::unsupported},
        {"2", "44100.5", "2", Case::unsupported}, {"2", "7999", "2", Case::unsupported},  {"2", "192001", "2", Case::unsupported},
        {"2", "8000", "2", std::nullopt},         {"2", "4.4.1", "2", Case::invalid},     {"2", ".", "2", Case::invalid},
        {"2.0", "44100", "2", Case::invalid},     {"2", "44100", "a", Case::invalid},
        {"99999999999999999999", "44100", "2", Case::invalid}, {"9223372036854775807", "44100", "2", Case::unsupported},
    };
    for (const auto &c : cases)
        EXPECT_EQ(failure(buildFork(parameters(c.sampleBytes, c.rate, c.channels))), c.outcome) << c.sampleBytes << " " << c.rate << " " << c.channels;

    auto missing = parameters("2", "44100", "2");
    missing.pop_back();
    EXPECT_EQ(failure(buildFork(missing)), Case::invalid);
    // A compressed string; a length byte past the data, over 63 or zero.
    const std::tuple<int, std::uint8_t, QByteArray, Case> damaged[] = {
        {1, 0x01, pascal("44100"), Case::unsupported}, {0, 0, QByteArray("\x02" "2", 2), Case::invalid},
        {1, 0, pascal(QByteArray(64, '1')), Case::invalid}, {2, 0, QByteArray(1, '\0'), Case::invalid},
    };
    for (const auto &[index, attributes, data, outcome] : damaged) {
        auto resources = parameters("2", "44100", "2");
        resources[index].attributes = attributes;
        resources[index].data = data;
        EXPECT_EQ(failure(buildFork(resources)), outcome) << index;
    }
}

TEST(SD2MetadataParse, StructuralDamageIsInvalidWhereverItIs)
{
    // Two resources of a type the reader does not use, and a name list whose first 12 bytes
    // would pass for one more well-formed reference if a list were allowed to run into it.
    auto resources = parameters("2", "44100", "2", {{0x736E6420, 7, "unused"}, {0x736E6420, 8, "unused"}});
    resources[0].name = QByteArray("A\xFF\xFF\0\0\0\0\0\0\0\0", 11);
    const QByteArray good = buildFork(resources);
    ASSERT_EQ(failure(good), std::nullopt);
    const ByteReader fork(good);
    const int map = int(fork.u32beAt(4)), typeList = map + 28, nameList = map + fork.u16beAt(map + 26);
    const int secondType = typeList + 10, firstRefs = typeList + fork.u16beAt(typeList + 8);
    const int secondRefs = typeList + fork.u16beAt(secondType + 6), dataLength = int(fork.u32beAt(8));
    const std::pair<const char *, std::function<void(QByteArray &)>> damage[] = {
        {"short header", [](QByteArray &b) { b.truncate(15); }},
        {"short map", [](QByteArray &b) { b.chop(1); }},
        {"data offset 15", [](QByteArray &b) { put32(b, 0, 15); }},
        {"map length 29", [](QByteArray &b) { put32(b, 12, 29); }},
        {"data into the map", [&](QByteArray &b) { put32(b, 8, dataLength + 1); }},
        {"data past the end", [](QByteArray &b) { put32(b, 8, 0xFFFFFFF0); }},
        {"type list before its place", [&](QByteArray &b) { put16(b, map + 24, 27); }},
        {"name list past the map", [&](QByteArray &b) { put16(b, map + 26, 0xFFFF); }},
        {"65536 types", [&](QByteArray &b) { put16(b, typeList, 0xFFFF); }}, // not none
        {"the same type twice", [&](QByteArray &b) { put32(b, secondType, typeSTR); }},
        {"the same id twice", [&](QByteArray &b) { put16(b, secondRefs + 12, 7); }},
        {"reference lists overlapping", [&](QByteArray &b) { put16(b, secondType + 6, std::uint16_t(firstRefs + 12 - typeList)); }},
        {"references into the names", [&](QByteArray &b) { put16(b, secondType + 4, 2); }},
        // An unused resource whose data entry leaves the data area spoils the whole fork.
        {"data entry past the area", [&](QByteArray &b) { put16(b, secondRefs + 18, std::uint16_t(dataLength - 2)); }},
        {"data length past the area", [&](QByteArray &b) { put32(b, 256 + dataLength - 10, 7); }},
        {"name outside the map", [&](QByteArray &b) { put16(b, firstRefs + 2, 0x0100); }},
        {"name running out of the map", [&](QByteArray &b) { b[nameList] = char(12); }},
    };
    for (const auto &[what, change] : damage) {
        QByteArray bytes = good;
        change(bytes);
        EXPECT_EQ(failure(bytes), Case::invalid) << what;
    }
}

TEST(SD2MetadataParse, LimitsOnSizeTypesAndReferences)
{
    QByteArray huge = buildFork(parameters("2", "44100", "2"));
    huge.append(QByteArray(SD2MetadataReader::inspectionLimit - huge.size() + 1, '\0'));
    EXPECT_EQ(failure(huge), Case::tooLarge);
    EXPECT_EQ(failure(huge.chopped(1)), std::nullopt);

    // 256 types and 4,096 references in all pass; one more of either does not.
    auto many = parameters("2", "44100", "2"), references = many;
    for (std::uint32_t t = 0; t < 255; ++t)
        many.push_back({0x41000000 + t, 1, {}});
    for (int id = 0; id < 4093; ++id)
        references.push_back({0x41000000, std::uint16_t(id), {}});
    EXPECT_EQ(failure(buildFork(many)), std::nullopt);
    EXPECT_EQ(failure(buildFork(references)), std::nullopt);
    many.push_back({0x42000000, 1, {}});
    references.push_back({0x41000000, 5000, {}});
    EXPECT_EQ(failure(buildFork(many)), Case::invalid);
    EXPECT_EQ(failure(buildFork(references)), Case::invalid);
}
