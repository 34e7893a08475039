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

class FlacTempo : public ::testing::Test {
protected:
    std::optional<double> read(const QByteArray &bytes) { return test::writeFile(in, bytes), FLACTempoMetadata::read(in); }
    // The copy's bytes; empty after a refusal for the reason expected.
    QByteArray copy(const QByteArray &source, std::optional<double> bpm, std::optional<Reason> refusal = {})
    {
        QFile::remove(out);
        test::writeFile(in, source);
        EXPECT_EQ(test::tags::refusalOf([&] { FLACTempoMetadata::copyTagging(bpm, in, out); }), refusal);
        return refusal ? QByteArray() : test::readAll(out);
    }

    test::TempDir dir;
    QString in = dir.file(QStringLiteral("in.flac")), out = dir.file(QStringLiteral("tagged.flac"));
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
        {{"TEMPO=100", "TAMPOD_BPM=120.5", "bpm=121"}, 121}, {{"TEMPO=100", "TAMPOD_BPM=120.5"}, 120.5},
        {{"TEMPO=100", "tempo=110"}, 100},                   {{"==bpm=98"}, 98},
        {{"BPM=abc", "BPM=0", "BPM=-5", "BPM=inf", "BPM= 90", "BPM=90 ", "BPM=1.2e2"}, 120},
        {{"B=1", "BPM=", "=BPM", "TEMPO==5", "BPMX=1", "TITLE=120"}, std::nullopt},
    };
    for (const auto &[list, tempo] : cases)
        EXPECT_EQ(read(file({info, {4, comments(list)}})), tempo) << list.join(' ').toStdString();
    EXPECT_EQ(read(file({info})), std::nullopt);
}

TEST_F(FlacTempo, DamagedOrOversizedHeadsAreRefused)
{
    const QByteArray good = file({info, {4, comments({"BPM=120"})}});
    QByteArray overrun = good, count = good; // a comment one byte longer than its block; too many comments
    overrun[good.indexOf("BPM=120") - 4] = 8;
    count[good.indexOf("BPM=120") - 8] = 3;
    QList<Block> tooMany(FLACTempoMetadata::maximumBlocks + 1, Block{1, {}});
    for (const QByteArray &bytes : {"ID3\x03" + good, good.left(6), good.left(30), overrun, count, file(tooMany)}) {
        EXPECT_EQ(read(bytes), std::nullopt) << bytes.left(40).toHex().toStdString();
        EXPECT_EQ(copy(bytes, 120.0, Reason::tempoMetadata), QByteArray());
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
    EXPECT_EQ(copy(file({{4, comments({comment}, "")}}, ""), 120.0, Reason::tempoMetadata), QByteArray());
    EXPECT_EQ(copy(file({{4, comments({comment.chopped(1)}, "")}}, ""), 120.0).size(), 8 + FLACTempoMetadata::maximumCommentBody);
}

TEST_F(FlacTempo, SourceFormatFromAFirstStreamInfo)
{
    test::writeFile(in, file({{0, streamInfo(44100, 24)}}, ""));
    EXPECT_EQ(FLACTempoMetadata::sourceFormat(in), (FLACTempoMetadata::StreamFormat{44100, 24}));
    for (const QByteArray &bad : {file({{0, streamInfo(0, 16)}}), file({{4, comments({QByteArray(40, 'x')})}, info}),
                                  file({{0, streamInfo(44100, 16) + "x"}}), file({info}, "").left(41)}) {
        test::writeFile(in, bad);
        EXPECT_EQ(FLACTempoMetadata::sourceFormat(in), std::nullopt);
    }
}

TEST_F(FlacTempo, CopyRewritesTheFirstCommentBlockInPlace)
{
    const QByteArray audio(70'000, '\x5A');
    const Block others[] = {{4, comments({"BPM=50"})}, {1, QByteArray(100, 0)}};
    const QByteArray source = file({info, {4, comments({"TITLE=Song", "tempo=99", "BPM=98", "X=a\xFF\xE2\x82z", "TEMPO"})},
                                    others[0], others[1]}, audio);
    // Tempo comments go, the others come back as well-formed UTF-8, the audio is untouched.
    const QByteArray rewritten = comments({"TITLE=Song", "X=a\xEF\xBF\xBD\xEF\xBF\xBDz", "BPM=120.0", "TAMPOD_BPM=120.0"}, "tamPOD");
    EXPECT_EQ(copy(source, 120.0), file({info, {4, rewritten}, others[0], others[1]}, audio));
    for (double bpm : {123.457, 1e-300, 1.7976931348623157e308}) {
        copy(source, bpm);
        EXPECT_EQ(FLACTempoMetadata::read(out), bpm);
    }
    // Without a comment block, a new one goes after all the others and alone carries the flag.
    EXPECT_EQ(copy(file({info, others[1]}, ""), 98.25),
              file({info, others[1], {4, comments({"BPM=98.25", "TAMPOD_BPM=98.25"}, "tamPOD")}}, ""));
    // Without a usable tempo the copy is exact.
    for (double bpm : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(copy(source, bpm), source);
}

TEST_F(FlacTempo, CopyIsCreatedExclusivelyAndStopsWhenCancelled)
{
    test::writeFile(out, "someone else's file");
    test::writeFile(in, file({info}));
    EXPECT_EQ(test::tags::refusalOf([&] { FLACTempoMetadata::copyTagging(120.0, in, out); }), Reason::storage);
    EXPECT_EQ(test::readAll(out), "someone else's file");

    const CurrentCancellation::Scope scope(test::cancelledToken());
    EXPECT_THROW(read(file({info, {4, comments({"BPM=120"})}})), Cancelled);
    EXPECT_THROW(FLACTempoMetadata::copyTagging(120.0, in, dir.file("x.flac")), Cancelled);
}
