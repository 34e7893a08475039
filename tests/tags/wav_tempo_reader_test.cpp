#include "tags/wav_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "support/test_support.h"
#include "tag_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tampod;
using namespace tampod::test::tags;

namespace {

class WAVTempo : public ::testing::Test {
protected:
    std::optional<double> read(const QByteArray &file, bool infoOnly)
    {
        const QString path = dir.file(QStringLiteral("file.wav"));
        test::writeFile(path, file);
        return WAVTempoReader::read(path, infoOnly);
    }
    test::TempDir dir;
};

const QByteArray audio(1001, '\0');

QByteArray info(std::initializer_list<Chunk> entries)
{
    return list("INFO", QList<Chunk>(entries));
}

} // namespace

TEST_F(WAVTempo, FirstAcidChunkOfFullSizeDecides)
{
    EXPECT_EQ(read(riff({{"data", audio}, {"acid", acid(120)}}), false), 120.0);
    EXPECT_EQ(read(riff({{"acid", acid(97.3f)}}), false), 97.30000305175781);
    for (float bad : {0.0f, -120.0f, std::numeric_limits<float>::quiet_NaN(), INFINITY})
        EXPECT_FALSE(read(riff({{"acid", acid(bad)}, {"acid", acid(120)}}), false)) << bad;
    EXPECT_EQ(read(riff({{"acid", acid(90).left(20)}, {"acid", acid(120)}}), false), 120.0);
    EXPECT_EQ(read(riff({{"acid", acid(120) + "more"}}), false), 120.0);
    EXPECT_FALSE(read(riff({{"ACID", acid(120)}}), false));
    EXPECT_FALSE(read(riff({{"acid", acid(120)}}), true)) << "acid is not read for INFO";
    EXPECT_FALSE(read(riff({{"LIST", info({{"IBPM", "120"}})}}), false)) << "INFO is not read for acid";
}

TEST_F(WAVTempo, InfoTempoTextIsTrimmedAndMustBeOneNumber)
{
    EXPECT_EQ(read(riff({{"LIST", info({{"INAM", "Take"}, {"IBPM", QByteArray("120\0", 4)}})}}), true), 120.0);
    EXPECT_EQ(read(riff({{"LIST", info({{"IBPM", "  96.5 "}})}}), true), 96.5);
    EXPECT_EQ(read(riff({{"LIST", info({{"IBPM", "120 BPM"}, {"IBPM", "96"}})}}), true), 96.0)
        << "an unusable entry is passed over";
    EXPECT_FALSE(read(riff({{"LIST", info({{"IBPM", QByteArray("120\0" "130", 7)}})}}), true));
    EXPECT_FALSE(read(riff({{"LIST", info({{"IBPM", "1\xE9"}})}}), true)) << "not ASCII";
    EXPECT_FALSE(read(riff({{"LIST", info({{"IBPM", QByteArray(257, '1')}})}}), true));
    EXPECT_FALSE(read(riff({{"LIST", info({{"ibpm", "120"}})}}), true));
    EXPECT_FALSE(read(riff({{"LIST", list("adtl", {{"IBPM", "120"}})}}), true));
    EXPECT_EQ(read(riff({{"LIST", info({{"IBPM", "0"}})}, {"data", audio}, {"LIST", info({{"IBPM", "96"}})}}), true), 96.0);

    // A malformed entry abandons its own list only.
    QByteArray broken = info({{"IBPM", "100"}});
    broken[8] = 99; // the entry's size now runs past its list
    EXPECT_EQ(read(riff({{"LIST", broken}, {"LIST", info({{"IBPM", "96"}})}}), true), 96.0);
}

TEST_F(WAVTempo, WalkIsBoundedByTheFileAndTheVisitBudget)
{
    EXPECT_EQ(read(riff({{"data", audio}, {"acid", acid(120)}}, 1u << 31), false), 120.0);
    EXPECT_FALSE(read(riff({{"data", audio}, {"acid", acid(120)}}).chopped(2), false));
    EXPECT_FALSE(read(riff({{"acid", acid(120)}}, std::nullopt, "RIFX"), false));
    EXPECT_FALSE(read(riff({{"acid", acid(120)}}, std::nullopt, "RF64"), false));
    EXPECT_FALSE(read(riff({{"acid", acid(120)}}, std::nullopt, "RIFF", "wave"), false));
    EXPECT_FALSE(WAVTempoReader::read(dir.file(QStringLiteral("missing.wav")), false));

    // Top-level chunks and INFO entries share one budget of 65,536 visits.
    const auto file = [](int junk) {
        QList<Chunk> chunks(junk, Chunk("junk", QByteArray()));
        chunks.append(Chunk("LIST", info({{"INAM", "x"}, {"IBPM", "96"}})));
        return riff(chunks);
    };
    EXPECT_EQ(read(file(WAVTempoReader::maximumVisits - 3), true), 96.0);
    EXPECT_FALSE(read(file(WAVTempoReader::maximumVisits - 2), true));

    CancellationSource source;
    source.cancel();
    CurrentCancellation::Scope scope(source.token());
    EXPECT_FALSE(read(riff({{"acid", acid(120)}}), false));
}
