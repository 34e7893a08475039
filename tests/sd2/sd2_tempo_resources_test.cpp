// The tempo resources writer: a parameter fork as a new SD2 file gets it, the tempo added in
// place, its limits, and the file left alone when there is nothing to write.
#include "resource_fork_builder.h"

#include "files/journal/audio_export_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_resources.h"
#include "support/fake_fork_backend.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test;

namespace {

// The error case of an export failure, -1 for none.
template <typename Call>
int exportFailure(Call call)
{
    try {
        call();
    } catch (const AudioExportError &error) {
        return int(error.kind());
    }
    return -1;
}

constexpr int tempoMetadata = int(AudioExportError::Case::tempoMetadata);

// The types of a fork in their order.
std::vector<std::uint32_t> typesOf(const QByteArray &fork)
{
    ByteReader bytes(fork);
    const std::uint32_t map = bytes.u32beAt(4);
    const std::uint32_t typeList = map + bytes.u16beAt(map + 24);
    std::vector<std::uint32_t> types;
    for (std::uint32_t i = 0; i <= bytes.u16beAt(typeList); ++i)
        types.push_back(bytes.u32beAt(typeList + 2 + 8 * i));
    return types;
}

} // namespace

TEST(SD2TempoResources, ParameterForkThenTempoThenRead)
{
    const QByteArray plain = SD2ResourceFork::parameters(2, 44100, 2);
    EXPECT_EQ(SD2MetadataReader::parse(plain), (SD2Metadata{2, 44100, 2, std::nullopt, std::nullopt}));
    EXPECT_EQ(SD2MetadataReader::parse(SD2ResourceFork::parameters(3, 192000, 1)),
              (SD2Metadata{3, 192000, 1, std::nullopt, std::nullopt}));

    const QByteArray tempo = SD2TempoMetadata::adding(120, plain);
    EXPECT_EQ(typesOf(tempo), (std::vector<std::uint32_t>{typeSTR, typeSBPM, typeSDDD}));
    EXPECT_TRUE(tempo.contains("tamPOD_BPM=120.0"));
    EXPECT_EQ(SD2MetadataReader::parse(tempo), (SD2Metadata{2, 44100, 2, 120.0, 120.0}));
    EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::adding(120, tempo); }), tempoMetadata) << "added twice";

    // No 16.16 word for so slow a tempo: the precise text alone.
    const QByteArray slow = SD2TempoMetadata::adding(0.0001, plain);
    EXPECT_EQ(typesOf(slow), (std::vector<std::uint32_t>{typeSTR, typeSBPM}));
    EXPECT_EQ(SD2MetadataReader::parse(slow), (SD2Metadata{2, 44100, 2, 0.0001, std::nullopt}));
    // A tempo the word cannot hold exactly keeps its precise text in force.
    EXPECT_EQ(SD2MetadataReader::parse(SD2TempoMetadata::adding(98.76, plain)).bpm, 98.76);

    for (const double unusable : {0.0, -1.0, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::adding(unusable, plain); }), tempoMetadata);
    EXPECT_EQ(failureOf([&] { SD2TempoMetadata::adding(120, plain.left(100)); }), SD2MetadataError::Case::invalid);
}

TEST(SD2TempoResources, TypeAndNameListLimits)
{
    // 255 types take 'sBPM' as the 256th but no more; 256 take nothing.
    for (const int types : {255, 256}) {
        std::vector<Resource> more;
        for (int i = 0; i < types - 1; ++i)
            more.push_back({0x61610000u + std::uint32_t(i), 1, "x"});
        const QByteArray fork = buildFork(parameters("2", "44100", "1", more));
        EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::adding(120, fork); }), tempoMetadata) << types;
        EXPECT_EQ(exportFailure([&] { SD2ResourceFork::adding(typeSBPM, 128, "tamPOD_BPM=120.0", fork); }),
                  types == 255 ? -1 : tempoMetadata)
            << types;
        EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::adding(0.0001, fork); }), types == 255 ? -1 : tempoMetadata);
    }
    // A name list already near the 16-bit offset limit (an unused gap before it) cannot move by
    // 20 more bytes.
    QByteArray gapped = buildFork(parameters("2", "44100", "1"));
    const std::uint32_t map = ByteReader(gapped).u32beAt(4);
    const std::uint16_t names = ByteReader(gapped).u16beAt(map + 26);
    const int gap = 65535 - 19 - names;
    gapped.insert(map + names, QByteArray(gap, '\0'));
    put16(gapped, int(map) + 26, std::uint16_t(names + gap));
    const std::uint32_t mapLength = ByteReader(gapped).u32beAt(12) + std::uint32_t(gap);
    put32(gapped, 12, mapLength);
    put32(gapped, int(map) + 12, mapLength);
    ASSERT_EQ(SD2MetadataReader::parse(gapped).channels, 1);
    EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::adding(120, gapped); }), tempoMetadata);
    put16(gapped, int(map) + 26, std::uint16_t(names + gap - 1));
    gapped.remove(map + names, 1);
    put32(gapped, 12, mapLength - 1);
    put32(gapped, int(map) + 12, mapLength - 1);
    EXPECT_EQ(exportFailure([&] { SD2ResourceFork::adding(typeSBPM, 128, "tamPOD_BPM=1.0", gapped); }), -1);
}

TEST(SD2TempoResources, WrittenInPlaceThroughTheForkStore)
{
    TempDir dir;
    const QString path = dir.file("take.sd2");
    writeFile(path, "audio");
    const QUrl url = QUrl::fromLocalFile(path);
    const auto backend = std::make_shared<FakeForkBackend>();
    const ForkStore forks(backend);
    const QByteArray plain = SD2ResourceFork::parameters(2, 48000, 1);
    backend->put(ForkStore::Source::netatalkAttribute, plain);

    for (const std::optional<double> nothing : {std::optional<double>(), std::optional<double>(-1.0)})
        SD2TempoMetadata::write(nothing, url, forks);
    EXPECT_EQ(backend->writes, 0) << "no tempo, nothing written";
    SD2TempoMetadata::write(120.5, url, forks);
    EXPECT_EQ(SD2MetadataReader::read(url, forks)->bpm, 120.5);
    EXPECT_EQ(readAll(path), "audio");

    backend->put(ForkStore::Source::netatalkAttribute, plain + QByteArray(SD2MetadataReader::inspectionLimit, '\0'));
    EXPECT_EQ(exportFailure([&] { SD2TempoMetadata::write(120, url, forks); }), tempoMetadata) << "over 4 MiB";
    backend->places.clear();
    EXPECT_EQ(failureOf([&] { SD2TempoMetadata::write(120, url, forks); }), SD2MetadataError::Case::invalid)
        << "no fork to add to";
}
