#include "tags/flac_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "tags/internal/utf8_text.h"
#include "tags/tempo_write_error.h"
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace tampod;
using namespace tampod::test::flac;
using Reason = TempoWriteError::Reason;

namespace {

const Block info{0, streamInfo(44100, 16)};

class FlacTempo : public ::testing::Test {
protected:
    QString put(const QByteArray &bytes)
    {
        test::writeFile(in, bytes);
        return in;
    }
    std::optional<double> read(const QByteArray &bytes) { return FLACTempoMetadata::read(put(bytes)); }
    std::optional<double> readComments(const QList<QByteArray> &list) { return read(file({info, {4, comments(list)}})); }
    // The copy's bytes; empty after a refusal for the reason expected.
    QByteArray copy(const QByteArray &source, std::optional<double> bpm, std::optional<Reason> refusal = {})
    {
        QFile::remove(out);
        try {
            FLACTempoMetadata::copyTagging(bpm, put(source), out);
        } catch (const TempoWriteError &error) {
            EXPECT_EQ(error.reason(), refusal);
            return {};
        }
        EXPECT_FALSE(refusal) << "accepted";
        return test::readAll(out);
    }

    test::TempDir dir;
    QString in = dir.file(QStringLiteral("in.flac"));
    QString out = dir.file(QStringLiteral("tagged.flac"));
};

} // namespace

TEST(Utf8Text, EachMaximalSubpartBecomesOneReplacement)
{
    const QByteArray r("\xEF\xBF\xBD");
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
        // Truncated sequences, a lone lead, stray continuations.
        {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + r + r + r + "b" + r + "c" + r + r + "d"},
        {"\xC0\xAF\xE0\x80\x80", r.repeated(5)}, // overlong forms
        {"\xED\xA0\x80", r.repeated(3)},         // a surrogate
        {"\xF4\x90\x80\x80\xF5", r.repeated(5)}, // above U+10FFFF
        {"x\xE2\x82", "x" + r},
    };
    for (const auto &[input, output] : cases)
        EXPECT_EQ(Utf8Text::repaired(input), output) << input.toHex(' ').toStdString();
}

TEST_F(FlacTempo, ReadsTheFirstUsableCommentOfThePreferredKey)
{
    const std::pair<QList<QByteArray>, std::optional<double>> cases[] = {
        {{"TEMPO=100", "TAMPOD_BPM=120.5", "bpm=121"}, 121},
        {{"TEMPO=100", "TAMPOD_BPM=120.5"}, 120.5},
        {{"TEMPO=100", "tempo=110"}, 100},
        {{"BPM=abc", "BPM=0", "BPM=-5", "BPM=inf", "BPM= 90", "BPM=90 ", "BPM=1.2e2"}, 120},
        {{"==bpm=98"}, 98},
        {{"B=1", "BPM=", "=BPM", "TEMPO==5", "BPMX=1", "TITLE=120"}, std::nullopt},
    };
    for (const auto &[list, tempo] : cases)
        EXPECT_EQ(readComments(list), tempo) << list.join(' ').toStdString();
    EXPECT_EQ(read(file({info})), std::nullopt);
}

TEST_F(FlacTempo, DamagedOrOversizedHeadsAreRefused)
{
    const QByteArray good = file({info, {4, comments({"BPM=120"})}});
    QByteArray overrun = good; // the comment claims one byte more than its block holds
    overrun[good.indexOf("BPM=120") - 4] = 8;
    QByteArray count = good; // more comments than the block has room for
    count[good.indexOf("BPM=120") - 8] = 3;
    QList<Block> tooMany(FLACTempoMetadata::maximumBlocks + 1, Block{1, {}});
    const std::pair<const char *, QByteArray> damaged[] = {
        {"ID3 head", "ID3\x03" + good}, {"short header", good.left(6)}, {"short body", good.left(30)},
        {"comment overrun", overrun},   {"comment count", count},       {"1,025 blocks", file(tooMany)},
    };
    for (const auto &[why, bytes] : damaged) {
        EXPECT_EQ(read(bytes), std::nullopt) << why;
        EXPECT_EQ(copy(bytes, 120.0, Reason::tempoMetadata), QByteArray()) << why;
    }
    EXPECT_EQ(copy(overrun, std::nullopt), overrun) << "without a tempo the comments are not parsed";

    tooMany.removeLast();
    tooMany[0] = {4, comments({"BPM=77"})};
    EXPECT_EQ(read(file(tooMany)), 77.0);
    // 4 + body over all blocks may reach 16 MiB exactly.
    const QByteArray head = comments({"BPM=66"});
    const qsizetype fill = FLACTempoMetadata::maximumMetadataBytes - 8 - head.size();
    EXPECT_EQ(read(file({{4, head}, {1, QByteArray(fill, 0)}})), 66.0);
    EXPECT_EQ(read(file({{4, head}, {1, QByteArray(fill + 1, 0)}})), std::nullopt);
    // A head within that limit whose rewritten comment block passes 16,777,215 bytes.
    const QByteArray comment = "A=" + QByteArray(16'777'163, 'x');
    EXPECT_EQ(copy(file({{4, comments({comment}, "")}}), 120.0, Reason::tempoMetadata), QByteArray());
    EXPECT_EQ(parse(copy(file({{4, comments({comment.chopped(1)}, "")}}), 120.0)).blocks[0].body.size(),
              FLACTempoMetadata::maximumCommentBody);
}

TEST_F(FlacTempo, SourceFormatFromAFirstStreamInfo)
{
    EXPECT_EQ(FLACTempoMetadata::sourceFormat(put(file({{0, streamInfo(44100, 24)}}, ""))), (FLACTempoMetadata::StreamFormat{44100, 24}));
    for (const QByteArray &bad : {file({{0, streamInfo(0, 16)}}), file({{4, comments({QByteArray(40, 'x')})}, info}),
                                  file({{0, streamInfo(44100, 16) + "x"}}), file({info}, "").left(41)})
        EXPECT_EQ(FLACTempoMetadata::sourceFormat(put(bad)), std::nullopt);
}

TEST_F(FlacTempo, CopyRewritesTheFirstCommentBlockInPlace)
{
    const QByteArray audio(70'000, '\x5A');
    const QList<Block> blocks{info, {4, comments({"TITLE=Song", "tempo=99", "BPM=98", "X=a\xFF\xE2\x82z", "TEMPO"})},
                              {4, comments({"BPM=50"})}, {1, QByteArray(100, 0)}};
    const Parsed tagged = parse(copy(file(blocks, audio), 120.0));
    ASSERT_EQ(tagged.blocks.size(), 4);
    for (int i : {0, 2, 3})
        EXPECT_EQ(tagged.blocks[i].body, blocks[i].body);
    EXPECT_EQ(tagged.audio, audio);
    // Kept comments come back as well-formed UTF-8.
    EXPECT_EQ(parseComments(tagged.blocks[1].body),
              (QList<QByteArray>{"tamPOD", "TITLE=Song", "X=a\xEF\xBF\xBD\xEF\xBF\xBDz", "BPM=120.0", "TAMPOD_BPM=120.0"}));
    for (double bpm : {120.0, 123.457, 1e-300, 1.7976931348623157e308}) {
        copy(file(blocks, audio), bpm);
        EXPECT_EQ(FLACTempoMetadata::read(out), bpm);
    }

    // Without a comment block, a new one goes after all the others and alone carries the flag.
    const QList<Block> bare{info, {3, QByteArray(18, 7)}, {1, QByteArray(64, 0)}};
    EXPECT_EQ(parse(copy(file(bare, ""), 98.25)).blocks,
              (QList<Block>{bare[0], bare[1], bare[2], {4, comments({"BPM=98.25", "TAMPOD_BPM=98.25"}, "tamPOD"), true}}));

    // Without a usable tempo the copy is exact.
    for (double bpm : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(copy(file(blocks, audio), bpm), file(blocks, audio));
}

TEST_F(FlacTempo, CopyIsCreatedExclusivelyAndStopsWhenCancelled)
{
    test::writeFile(out, "someone else's file");
    try {
        FLACTempoMetadata::copyTagging(120.0, put(file({info})), out);
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const TempoWriteError &error) {
        EXPECT_EQ(error.message(), QStringLiteral("The output could not be saved. Check available space and "
                                                  "write access, then try a new destination."));
    }
    EXPECT_EQ(test::readAll(out), "someone else's file");
    QFile::remove(out);
    ASSERT_TRUE(QFile::link(dir.file("elsewhere.flac"), out));
    EXPECT_THROW(FLACTempoMetadata::copyTagging(120.0, in, out), TempoWriteError);
    EXPECT_FALSE(QFile::exists(dir.file("elsewhere.flac"))) << "a dangling link is not followed";

    CancellationSource cancelled;
    cancelled.cancel();
    const CurrentCancellation::Scope scope(cancelled.token());
    EXPECT_EQ(read(file({info, {4, comments({"BPM=120"})}})), std::nullopt);
    EXPECT_THROW(FLACTempoMetadata::copyTagging(120.0, in, dir.file("x.flac")), Cancelled);
}
