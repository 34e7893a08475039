#include "tags/flac_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/error.h"
#include "tags/internal/utf8_text.h"
#include "tags/tempo_write_error.h"
#include "flac_fixtures.h"
#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <limits>

using namespace tampod;
using namespace tampod::test::flac;
using Reason = TempoWriteError::Reason;

namespace {

class FlacTempo : public ::testing::Test {
protected:
    QString put(const QByteArray &bytes, const QString &name = QStringLiteral("in.flac"))
    {
        test::writeFile(dir.file(name), bytes);
        return dir.file(name);
    }
    std::optional<double> readComments(const QList<QByteArray> &list) { return FLACTempoMetadata::read(put(withComments(list))); }

    // The copy's bytes, or the reason it was refused (no file may then be required).
    std::variant<QByteArray, Reason> copy(const QByteArray &source, std::optional<double> bpm)
    {
        QFile::remove(out);
        try {
            FLACTempoMetadata::copyTagging(put(source), out, bpm);
        } catch (const TempoWriteError &error) {
            return error.reason();
        }
        return test::readAll(out);
    }
    Comments commentsOf(const QByteArray &bytes)
    {
        for (const Block &block : parse(bytes).blocks) {
            if (block.kind == 4)
                return parseComments(block.body);
        }
        ADD_FAILURE() << "no comment block";
        return {};
    }

    test::TempDir dir;
    QString out = dir.file(QStringLiteral("tagged.flac"));
};

} // namespace

TEST(Utf8Text, EachMaximalSubpartBecomesOneReplacement)
{
    const QByteArray r("\xEF\xBF\xBD");
    struct Case {
        QByteArray in, out;
    };
    const Case cases[] = {
        {"plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
        // The standard's own example: a truncated 4-byte and 3-byte sequence, a lone lead and
        // stray continuation bytes.
        {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + r + r + r + "b" + r + "c" + r + r + "d"},
        {"\xC0\xAF", r + r},                 // overlong: C0 never leads
        {"\xE0\x80\x80", r + r + r},         // overlong 3-byte form
        {"\xED\xA0\x80", r + r + r},         // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r}, // above U+10FFFF
        {"\xF5\xFF", r + r},
        {"x\xE2\x82", "x" + r}, // truncated at the end
        {QByteArray("a\0b", 3), QByteArray("a\0b", 3)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Utf8Text::repaired(c.in), c.out) << c.in.toHex(' ').toStdString();
}

TEST_F(FlacTempo, ReadsTheFirstUsableCommentOfThePreferredKey)
{
    EXPECT_EQ(readComments({"TEMPO=100", "TAMPOD_BPM=120.5", "bpm=121"}), 121.0);
    EXPECT_EQ(readComments({"TEMPO=100", "TAMPOD_BPM=120.5"}), 120.5);
    EXPECT_EQ(readComments({"TEMPO=100", "tempo=110"}), 100.0);
    EXPECT_EQ(readComments({"BPM=abc", "BPM=90"}), 90.0);
    EXPECT_EQ(readComments({"BPM=0", "BPM=-5", "BPM=inf", "BPM= 90", "BPM=90 ", "TEMPO=1.2e2"}), 120.0);
    EXPECT_EQ(readComments({"==bpm=98"}), 98.0);
    EXPECT_EQ(readComments({"Bpm=9", "tempo=7"}), 9.0);
    // Too short to hold a tempo, or a key without a value.
    EXPECT_EQ(readComments({"B=1", "BPM=", "=BPM", "BPM", "TEMPO==5"}), std::nullopt);
    EXPECT_EQ(readComments({"TITLE=120", "BPMX=1", "B\xC3\xA9PM=3"}), std::nullopt);
    EXPECT_EQ(FLACTempoMetadata::read(put(file({{0, streamInfo(44100, 2, 16)}}))), std::nullopt);
    EXPECT_EQ(FLACTempoMetadata::read(dir.file("missing.flac")), std::nullopt);
}

TEST_F(FlacTempo, DamagedHeadsGiveNoTempoAndAreNotCopied)
{
    const QByteArray good = withComments({"BPM=120"});
    // The last comment claims one byte more than the block holds.
    QByteArray overrunningComment = good;
    overrunningComment[good.indexOf("BPM=120") - 4] = 8;

    QByteArray countTooLarge = withComments({"BPM=120"});
    countTooLarge[countTooLarge.indexOf("BPM=120") - 8] = 3;

    const QList<std::pair<const char *, QByteArray>> damaged{
        {"ID3 head", "ID3\x03" + good},
        {"short header", good.left(6)},
        {"short body", good.left(30)},
        {"comment overruns its block", overrunningComment},
        {"count beyond the block", countTooLarge},
        {"no block flagged last", file({{0, streamInfo(44100, 2, 16)}, {1, QByteArray(10, 0)}}, "").chopped(14)},
    };
    for (const auto &[why, bytes] : damaged) {
        EXPECT_EQ(FLACTempoMetadata::read(put(bytes)), std::nullopt) << why;
        EXPECT_EQ(copy(bytes, 120.0), (std::variant<QByteArray, Reason>(Reason::tempoMetadata))) << why;
    }
    // Without a tempo to write, the comment block is not looked into.
    EXPECT_EQ(copy(overrunningComment, std::nullopt), (std::variant<QByteArray, Reason>(overrunningComment)));
}

TEST_F(FlacTempo, BlockCountAndMetadataSizeLimits)
{
    QList<Block> blocks(FLACTempoMetadata::maximumBlocks, Block{1, QByteArray()});
    blocks[0] = {4, comments({"BPM=77"})};
    EXPECT_EQ(FLACTempoMetadata::read(put(file(blocks))), 77.0);
    blocks.append(Block{1, QByteArray()});
    EXPECT_EQ(FLACTempoMetadata::read(put(file(blocks))), std::nullopt);
    EXPECT_EQ(copy(file(blocks), 1.0), (std::variant<QByteArray, Reason>(Reason::tempoMetadata)));

    // 4 + body over all blocks may reach 16 MiB exactly.
    const QByteArray head = comments({"BPM=66"});
    const qsizetype fill = FLACTempoMetadata::maximumMetadataBytes - 8 - head.size();
    EXPECT_EQ(FLACTempoMetadata::read(put(file({{4, head}, {1, QByteArray(fill, 0)}}))), 66.0);
    EXPECT_EQ(FLACTempoMetadata::read(put(file({{4, head}, {1, QByteArray(fill + 1, 0)}}))), std::nullopt);
}

TEST_F(FlacTempo, SourceFormatFromAFirstStreamInfo)
{
    const auto format = [this](const QByteArray &bytes) { return FLACTempoMetadata::sourceFormat(put(bytes)); };
    using Format = FLACTempoMetadata::StreamFormat;
    EXPECT_EQ(format(file({{0, streamInfo(44100, 2, 24)}}, "")), (Format{44100, 24}));
    EXPECT_EQ(format(file({{0, streamInfo(655350, 8, 32)}, {4, comments({})}})), (Format{655350, 32}));
    EXPECT_EQ(format(file({{0, streamInfo(0, 2, 16)}})), std::nullopt);
    EXPECT_EQ(format(file({{4, comments({"A=1234567890123456789012345678901234567890"})}, {0, streamInfo(44100, 2, 16)}})),
              std::nullopt);
    EXPECT_EQ(format(file({{0, streamInfo(44100, 2, 16) + "x"}})), std::nullopt);
    EXPECT_EQ(format(file({{0, streamInfo(44100, 2, 16)}}, "").left(41)), std::nullopt);
    EXPECT_EQ(format("ID3" + file({{0, streamInfo(44100, 2, 16)}})), std::nullopt);
}

TEST_F(FlacTempo, CopyRewritesTheFirstCommentBlockInPlace)
{
    const QByteArray audio(70'000, '\x5A');
    const QByteArray source = file({{0, streamInfo(48000, 2, 16)},
                                    {4, comments({"TITLE=Song", "tempo=99", "BPM=98", "ARTIST=Someone", "TEMPO"})},
                                    {4, comments({"BPM=50"})},
                                    {1, QByteArray(100, 0)}},
                                   audio);
    const auto result = copy(source, 120.0);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(result));
    const Parsed tagged = parse(std::get<QByteArray>(result));
    const Parsed original = parse(source);
    ASSERT_EQ(tagged.blocks.size(), 4);
    EXPECT_EQ(tagged.blocks[0], original.blocks[0]);
    EXPECT_EQ(tagged.blocks[2], original.blocks[2]) << "later comment blocks stay";
    EXPECT_EQ(tagged.blocks[3], original.blocks[3]);
    EXPECT_EQ(tagged.audio, audio);
    const Comments rewritten = parseComments(tagged.blocks[1].body);
    EXPECT_EQ(rewritten.vendor, "tamPOD");
    EXPECT_EQ(rewritten.list,
              (QList<QByteArray>{"TITLE=Song", "ARTIST=Someone", "BPM=120.0", "TAMPOD_BPM=120.0"}));
    EXPECT_EQ(FLACTempoMetadata::read(out), 120.0);

    for (double bpm : {120.5, 123.457, 0.1, 1e-300, 1.7976931348623157e308}) {
        ASSERT_TRUE(std::holds_alternative<QByteArray>(copy(source, bpm)));
        EXPECT_EQ(FLACTempoMetadata::read(out), bpm);
    }
}

TEST_F(FlacTempo, CopyAddsABlockAfterAllOthersWhenThereIsNone)
{
    const QByteArray source = file({{0, streamInfo(44100, 1, 16)}, {3, QByteArray(18, 7)}, {1, QByteArray(64, 0)}}, "");
    const auto result = copy(source, 98.25);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(result));
    const Parsed tagged = parse(std::get<QByteArray>(result));
    ASSERT_EQ(tagged.blocks.size(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tagged.blocks[i].kind, parse(source).blocks[i].kind);
        EXPECT_EQ(tagged.blocks[i].body, parse(source).blocks[i].body);
        EXPECT_FALSE(tagged.blocks[i].last);
    }
    EXPECT_TRUE(tagged.blocks[3].last);
    EXPECT_EQ(parseComments(tagged.blocks[3].body).list, (QList<QByteArray>{"BPM=98.25", "TAMPOD_BPM=98.25"}));
    EXPECT_TRUE(tagged.audio.isEmpty());
}

TEST_F(FlacTempo, CopyWithoutUsableTempoIsExact)
{
    const QByteArray source = file({{0, streamInfo(44100, 2, 16)}, {4, comments({"BPM=98", "X=\xFF\xFE"})}},
                                   QByteArray(65'536, '\x01') + "tail");
    for (std::optional<double> bpm : std::initializer_list<std::optional<double>>{
             std::nullopt, 0.0, -1.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(copy(source, bpm), (std::variant<QByteArray, Reason>(source)));
}

TEST_F(FlacTempo, KeptCommentsAreRepairedAsUtf8)
{
    const QByteArray source = withComments({"TITLE=a\xFF\xE2\x82z", "ALBUM=\xC3\xA9t\xC3\xA9"});
    const auto result = copy(source, 100.0);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(result));
    EXPECT_EQ(commentsOf(std::get<QByteArray>(result)).list,
              (QList<QByteArray>{"TITLE=a\xEF\xBF\xBD\xEF\xBF\xBDz", "ALBUM=\xC3\xA9t\xC3\xA9", "BPM=100.0",
                                 "TAMPOD_BPM=100.0"}));
}

TEST_F(FlacTempo, CopyIsCreatedExclusively)
{
    const QByteArray source = withComments({});
    test::writeFile(out, "someone else's file");
    try {
        FLACTempoMetadata::copyTagging(put(source), out, 120.0);
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const TempoWriteError &error) {
        EXPECT_EQ(error.reason(), Reason::storage);
        EXPECT_EQ(error.message(), QStringLiteral("The output could not be saved. Check available space and "
                                                  "write access, then try a new destination."));
    }
    EXPECT_EQ(test::readAll(out), "someone else's file");
    // A dangling symbolic link is not followed to create its target.
    QFile::remove(out);
    ASSERT_TRUE(QFile::link(dir.file("elsewhere.flac"), out));
    EXPECT_THROW(FLACTempoMetadata::copyTagging(put(source), out, 120.0), TempoWriteError);
    EXPECT_FALSE(QFile::exists(dir.file("elsewhere.flac")));
    EXPECT_THROW(FLACTempoMetadata::copyTagging(dir.file("missing.flac"), dir.file("x.flac"), 120.0), SystemError);
}

TEST_F(FlacTempo, RewrittenCommentBlockMayNotPassItsLengthField)
{
    // A head that fits the 16 MiB read limit, but whose rewritten block (vendor "tamPOD" and
    // the two tempo comments) passes 16,777,215 bytes by one.
    const QByteArray comment = "A=" + QByteArray(16'777'165 - 2, 'x');
    const QByteArray source = file({{4, comments({comment}, "")}}, "");
    EXPECT_EQ(copy(source, 120.0), (std::variant<QByteArray, Reason>(Reason::tempoMetadata)));
    const QByteArray fits = file({{4, comments({comment.chopped(1)}, "")}}, "");
    const auto result = copy(fits, 120.0);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(result));
    EXPECT_EQ(parse(std::get<QByteArray>(result)).blocks[0].body.size(), FLACTempoMetadata::maximumCommentBody);
}

TEST_F(FlacTempo, CancellationStopsReadingAndCopying)
{
    CancellationSource source;
    source.cancel();
    const CurrentCancellation::Scope scope(source.token());
    const QByteArray flac = withComments({"BPM=120"});
    EXPECT_EQ(FLACTempoMetadata::read(put(flac)), std::nullopt);
    EXPECT_THROW(FLACTempoMetadata::copyTagging(put(flac), out, 120.0), Cancelled);
}
