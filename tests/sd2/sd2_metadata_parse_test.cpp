#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_metadata.h"
#include "tags/sd2_document_tempo.h"

#include "resource_fork_builder.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test;
using Case = SD2MetadataError::Case;

namespace {

std::optional<Case> failure(const QByteArray &fork)
{
    try {
        SD2MetadataReader::parse(fork);
    } catch (const SD2MetadataError &error) {
        EXPECT_EQ(error.message(), SD2MetadataError::description(error.which()));
        return error.which();
    }
    return std::nullopt;
}

std::vector<Resource> with(std::vector<Resource> resources, const std::vector<Resource> &more)
{
    resources.insert(resources.end(), more.begin(), more.end());
    return resources;
}

Resource precise(const char *text, std::uint8_t attributes = 0)
{
    return {typeSBPM, 128, QByteArray(SD2TempoMetadata::prefix) + text, attributes};
}

Resource native(double bpm, std::uint8_t attributes = 0)
{
    return {typeSDDD, 1000, *SD2DocumentTempo::record(bpm), attributes};
}

} // namespace

TEST(SD2MetadataParse, ParametersAndTempos)
{
    const auto plain = SD2MetadataReader::parse(buildFork(parameters("2", "44100.000", "1")));
    EXPECT_EQ(plain, (SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt}));
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(parameters("0003", "192000", "2"))),
              (SD2Metadata{3, 192000, 2, std::nullopt, std::nullopt}));

    const auto base = parameters("3", "48000", "2");
    const auto both = SD2MetadataReader::parse(buildFork(with(base, {precise("98.76"), native(98.76)})));
    EXPECT_EQ(both, (SD2Metadata{3, 48000, 2, 98.76, 98.759765625}));
    // The precise tempo no longer matches the native word: the native one is in force.
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(with(base, {precise("120.004"), native(120)}))).bpm,
              120.0);
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(with(base, {precise("0.0001")}))),
              (SD2Metadata{3, 48000, 2, 0.0001, std::nullopt}));

    // Compressed, oversized or unreadable tempo resources are ignored, never an error.
    const auto ignored = [&](const Resource &resource) {
        return SD2MetadataReader::parse(buildFork(with(base, {resource, native(120)})));
    };
    EXPECT_EQ(ignored(precise("98.76", 0x01)).bpm, 120.0);
    EXPECT_EQ(ignored(precise(QByteArray(120, '1').constData())).bpm, 120.0);
    EXPECT_EQ(ignored(precise(" 98")).bpm, 120.0);
    EXPECT_EQ(ignored({typeSBPM, 129, "tamPOD_BPM=98"}).bpm, 120.0);
    const auto compressedNative = SD2MetadataReader::parse(
        buildFork(with(base, {precise("98.76"), native(120, 0x01)})));
    EXPECT_EQ(compressedNative.bpm, 98.76);
    EXPECT_EQ(compressedNative.nativeBPM, std::nullopt);
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(with(base, {{typeSDDD, 1000, QByteArray(419, 1)}})))
                  .nativeBPM,
              std::nullopt);

    // Unknown resources and names on the parameter strings are fine.
    auto named = with(base, {{0x736E6420, 7, "anything"}});
    named[0].name = "sample-size";
    EXPECT_EQ(SD2MetadataReader::parse(buildFork(named)).sampleBytes, 3);
}

TEST(SD2TempoMetadata, DecodesOnlyUsablePreciseTempos)
{
    EXPECT_EQ(SD2TempoMetadata::decode("tamPOD_BPM=120.0"), 120.0);
    EXPECT_EQ(SD2TempoMetadata::decode("tamPOD_BPM=1e2"), 100.0);
    for (const char *bad : {"tamPOD_BPM=", "tamPOD_BPM=0", "tamPOD_BPM=-5", "tamPOD_BPM=inf",
                            "tamPOD_BPM=nan", "tamPOD_BPM=12x", "TAMPOD_BPM=120", "120"})
        EXPECT_EQ(SD2TempoMetadata::decode(bad), std::nullopt) << bad;
    EXPECT_EQ(SD2TempoMetadata::decode(QByteArray("tamPOD_BPM=120\0", 15)), std::nullopt);
    EXPECT_EQ(SD2TempoMetadata::decode("tamPOD_BPM=120\xC2\xA0"), std::nullopt);
}

TEST(SD2MetadataParse, ParameterTextsAndSupportedRanges)
{
    struct Texts {
        const char *sampleBytes;
        const char *rate;
        const char *channels;
        std::optional<Case> outcome;
    };
    const Texts cases[] = {
        {"16", "44100", "2", Case::unsupported},     {"0", "44100", "2", Case::unsupported},
        {"2", "44100", "3", Case::unsupported},      {"2", "44100.5", "2", Case::unsupported},
        {"2", "7999", "2", Case::unsupported},       {"2", "192001", "2", Case::unsupported},
        {"2", "8000", "2", std::nullopt},            {"2", "4.4.1", "2", Case::invalid},
        {"2", ".", "2", Case::invalid},              {"2.0", "44100", "2", Case::invalid},
        {"99999999999999999999", "44100", "2", Case::invalid},
        {"9223372036854775807", "44100", "2", Case::unsupported},
        {"2", "44100", "a", Case::invalid},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(failure(buildFork(parameters(c.sampleBytes, c.rate, c.channels))), c.outcome)
            << c.sampleBytes << " " << c.rate << " " << c.channels;
    }

    auto missing = parameters("2", "44100", "2");
    missing.pop_back();
    EXPECT_EQ(failure(buildFork(missing)), Case::invalid);
    // A compressed string; a length byte past the data, over 63 or zero.
    const std::tuple<int, std::uint8_t, QByteArray, Case> damaged[] = {
        {1, 0x01, pascal("44100"), Case::unsupported},
        {0, 0, QByteArray("\x02" "2", 2), Case::invalid},
        {1, 0, pascal(QByteArray(64, '1')), Case::invalid},
        {2, 0, QByteArray(1, '\0'), Case::invalid},
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
    auto resources = with(parameters("2", "44100", "2"),
                          {{0x736E6420, 7, "unused"}, {0x736E6420, 8, "unused"}});
    resources[0].name = QByteArray("A\xFF\xFF\0\0\0\0\0\0\0\0", 11);
    ForkLayout layout;
    const QByteArray good = buildFork(resources, &layout);
    ASSERT_EQ(failure(good), std::nullopt);
    const int secondType = layout.typeList + 2 + 8;
    const int dataLength = 6 + 10 + 6 + 2 * 10;
    const auto damaged = [&](auto change) {
        QByteArray bytes = good;
        change(bytes);
        return failure(bytes);
    };

    EXPECT_EQ(failure(good.left(15)), Case::invalid);
    EXPECT_EQ(failure(good.left(good.size() - 1)), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 0, 15); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 12, 29); }), Case::invalid);
    // Data area and map overlapping, or the data area running past the end.
    EXPECT_EQ(damaged([&](QByteArray &b) { put32(b, 8, dataLength + 1); }), Case::invalid);
    EXPECT_EQ(damaged([](QByteArray &b) { put32(b, 8, 0xFFFFFFF0); }), Case::invalid);
    // Type and name list offsets outside the map.
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.mapOffset + 24, 27); }), Case::invalid);
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.mapOffset + 26, 0xFFFF); }),
              Case::invalid);
    // A type count of 0xFFFF means 65536 types, not none.
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.typeList, 0xFFFF); }), Case::invalid);
    // The same type twice, the same id twice in one type.
    EXPECT_EQ(damaged([&](QByteArray &b) { put32(b, secondType, test::typeSTR); }), Case::invalid);
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.referenceLists[1] + 12, 7); }),
              Case::invalid);
    // Reference lists overlapping each other, or running into the name list.
    EXPECT_EQ(damaged([&](QByteArray &b) {
                  put16(b, secondType + 6, std::uint16_t(layout.referenceLists[0] + 12 - layout.typeList));
              }),
              Case::invalid);
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, secondType + 4, 2); }), Case::invalid);
    // An unused resource whose data entry leaves the data area spoils the whole fork.
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.referenceLists[1] + 18, dataLength - 2); }),
              Case::invalid);
    EXPECT_EQ(damaged([&](QByteArray &b) { put32(b, layout.dataOffset + dataLength - 10, 7); }),
              Case::invalid);
    // A parameter string's name outside the map.
    EXPECT_EQ(damaged([&](QByteArray &b) { put16(b, layout.referenceLists[0] + 2, 0x0100); }),
              Case::invalid);
    EXPECT_EQ(damaged([&](QByteArray &b) { b[layout.nameList] = char(12); }), Case::invalid);
}

TEST(SD2MetadataParse, LimitsOnSizeTypesAndReferences)
{
    QByteArray huge = buildFork(parameters("2", "44100", "2"));
    huge.append(QByteArray(SD2MetadataReader::inspectionLimit - huge.size() + 1, '\0'));
    EXPECT_EQ(failure(huge), Case::tooLarge);
    huge.chop(1);
    EXPECT_EQ(failure(huge), std::nullopt);

    auto many = parameters("2", "44100", "2");
    for (std::uint32_t t = 0; t < 255; ++t)
        many.push_back({0x41000000 + t, 1, {}});
    EXPECT_EQ(failure(buildFork(many)), std::nullopt);
    many.push_back({0x42000000, 1, {}});
    EXPECT_EQ(failure(buildFork(many)), Case::invalid);

    auto references = parameters("2", "44100", "2");
    for (int id = 0; id < 4093; ++id)
        references.push_back({0x41000000, std::uint16_t(id), {}});
    EXPECT_EQ(failure(buildFork(references)), std::nullopt);
    references.push_back({0x41000000, 5000, {}});
    EXPECT_EQ(failure(buildFork(references)), Case::invalid);
}
