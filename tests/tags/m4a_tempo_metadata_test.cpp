#include "tags/m4a_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "tags/tempo_write_error.h"
#include "fixtures.h"

#include <gtest/gtest.h>

using namespace tampod;
using test::mpeg4::box;
using test::mpeg4::topLevel;

namespace {

QByteArray largeBox(const QByteArray &name, const QByteArray &body)
{
    return ByteWriter().u32be(1).bytes(name).u64be(std::uint64_t(body.size() + 16)).bytes(body).take();
}
QByteArray full(const QByteArray &body) { return QByteArray(4, '\0') + body; }
QByteArray freeform(const QByteArray &text, const QByteArray &mean = "org.tampod.tamPOD", const QByteArray &name = "BPM")
{
    return box("----", box("mean", full(mean)) + box("name", full(name)) + box("data", ByteWriter().u32be(1).u32be(0).bytes(text).take()));
}
QByteArray tmpo(std::uint16_t value, int dataLength = 10)
{
    return box("tmpo", box("data", ByteWriter().u32be(21).u32be(0).u16be(value).take().leftJustified(dataLength, '\0', true)));
}

const QByteArray hdlr = box("hdlr", ByteWriter().zeros(8).bytes("mdir").zeros(13).take());
QByteArray path(const QByteArray &items) { return box("udta", box("meta", full(hdlr + box("ilst", items)))); }
const QByteArray ftyp = box("ftyp", QByteArray("M4A \0\0\0\0M4A isom", 16));
const QByteArray trak = box("trak", box("tkhd", QByteArray(84, 0)));
const QByteArray mdat = box("mdat", QByteArray(3000, '\x33'));
QByteArray moovFile(const QByteArray &moovBody) { return ftyp + mdat + box("moov", trak + moovBody); }

class M4ATempo : public ::testing::Test {
protected:
    std::optional<double> read(const QByteArray &bytes) { return test::writeFile(file, bytes), M4ATempoMetadata::read(file); }
    std::optional<double> readItems(const QByteArray &items) { return read(moovFile(path(items))); }
    QByteArray write(const QByteArray &bytes, std::optional<double> bpm)
    {
        test::writeFile(file, bytes);
        M4ATempoMetadata::write(bpm, file);
        return test::readAll(file);
    }

    test::TempDir dir;
    QString file = dir.file(QStringLiteral("file.m4a"));
};

} // namespace

TEST_F(M4ATempo, PairsThePreciseTextWithTheStandardValue)
{
    const std::pair<QByteArray, std::optional<double>> cases[] = {
        {tmpo(120) + freeform("120.4"), 120.4}, {tmpo(121) + freeform("120.4"), 121}, {freeform("120.5") + tmpo(120), 120.5},
        {freeform("120.5") + tmpo(121), 121},   {tmpo(128), 128},                      {tmpo(0) + freeform("0.4"), 0.4},
        {tmpo(90, 9) + tmpo(91) + freeform("100.25"), 100.25}, // only the first tmpo counts
        {freeform("99", "com.apple.iTunes") + freeform("98", "org.tampod.tamPOD", "bpm") + freeform(" 97")
             + freeform("0") + freeform(QByteArray("97\0", 3)) + freeform("97.5"),
         97.5},
        // A malformed freeform item before a good one ends the read.
        {box("----", QByteArray("\0\0\0\1junk", 8)) + freeform("97.5"), std::nullopt},
    };
    for (const auto &[items, tempo] : cases)
        EXPECT_EQ(readItems(items), tempo) << items.toHex().toStdString();
}

TEST_F(M4ATempo, TheWalkToTheItems)
{
    const QByteArray tempo = box("moov", path(freeform("101.5"))), items = path(freeform("101.5"));
    const QByteArray filler = box("skip", QByteArray(16'777'216 - 16 - items.size(), 0));
    const std::pair<QByteArray, std::optional<double>> files[] = {
        {ftyp + largeBox("mdat", QByteArray(100, 0)) + tempo + box("moov", {}), 101.5},
        {box("free", {}).repeated(4'095) + tempo, 101.5}, {box("free", {}).repeated(4'096) + tempo, std::nullopt},
        {box("moov", items + filler), 101.5}, {box("moov", items + filler + "x"), std::nullopt}, // a moov of 16 MiB, one byte more
        {ftyp + QByteArray(4, '\0') + "mdat" + tempo, std::nullopt},                           // an mdat running to the end
        {moovFile(box("udta", box("meta", box("ilst", freeform("110.5"))))), std::nullopt},     // meta is a full box
    };
    for (const auto &[file, expected] : files)
        EXPECT_EQ(read(file), expected) << file.left(64).toHex().toStdString();
    // Boxes breaking the size rules spoil the path they are on, and only that.
    const QByteArray meta = full(hdlr + box("ilst", freeform("110.5")));
    for (const QByteArray &bad : {QByteArray("\0\0\0\0xxxx", 8), QByteArray("\0\0\0\1xxxx", 8), QByteArray("\0\0\0\7xxx", 7)}) {
        EXPECT_EQ(read(moovFile(bad + path(freeform("110.5")))), std::nullopt);
        EXPECT_EQ(read(moovFile(box("udta", bad + box("meta", meta)))), std::nullopt);
        EXPECT_EQ(read(moovFile(box("udta", box("meta", meta + bad)))), std::nullopt);
        EXPECT_EQ(read(moovFile(box("trak", bad) + path(freeform("110.5")))), 110.5) << "off the path";
    }
}

TEST_F(M4ATempo, WritesTheItemsAtTheEndOfThePath)
{
    const std::pair<double, QByteArray> cases[] = {{120.0, freeform("120.0") + tmpo(120)}, {120.5, freeform("120.5") + tmpo(120)},
                                                   {120.6, freeform("120.6") + tmpo(121)}, {0.4, freeform("0.4")},
                                                   {65'535.6, freeform("65535.6")}};
    for (const auto &[bpm, items] : cases) {
        EXPECT_TRUE(write(moovFile({}), bpm).endsWith(box("moov", trak + path(items)))) << bpm;
        EXPECT_EQ(M4ATempoMetadata::read(file), bpm);
    }
    const QByteArray items = freeform("100.0") + tmpo(100);
    const std::pair<QByteArray, QByteArray> paths[] = {
        {box("udta", box("cprt", "c")), box("udta", box("cprt", "c") + box("meta", full(hdlr + box("ilst", items))))},
        {box("udta", box("meta", "\1\2\3\4" + box("hdlr", "h"))),
         box("udta", box("meta", "\1\2\3\4" + box("hdlr", "h") + box("ilst", items)))},
        {path(tmpo(99)), path(tmpo(99) + items)},
    };
    for (const auto &[before, after] : paths)
        EXPECT_TRUE(write(moovFile(before), 100.0).endsWith(box("moov", trak + after)));
    EXPECT_EQ(M4ATempoMetadata::read(file), 99.0) << "an earlier tmpo stays first";

    const QByteArray source = moovFile({});
    for (double bpm : {0.0, -2.0, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(write(source, bpm), source);
}

TEST_F(M4ATempo, TheOldMoovBecomesFreeAndNothingElseMoves)
{
    const QByteArray body = trak + path(box("\xA9nam", "a"));
    QByteArray toEnd = ftyp + mdat + box("moov", body);
    toEnd.replace(ftyp.size() + mdat.size(), 4, QByteArray(4, '\0'));
    for (const QByteArray &source : {ftyp + box("moov", body) + mdat, ftyp + largeBox("moov", body) + mdat, toEnd}) {
        const QByteArray written = write(source, 97.0);
        const auto before = topLevel(source), after = topLevel(written);
        auto renamed = before;
        for (auto &top : renamed)
            top.name = top.name == "moov" ? "free" : top.name;
        ASSERT_EQ(after.size(), 4);
        EXPECT_EQ(after.first(3), renamed);
        EXPECT_EQ(written.mid(after[3].offset), box("moov", trak + path(box("\xA9nam", "a") + freeform("97.0") + tmpo(97))));
        EXPECT_EQ(M4ATempoMetadata::read(file), 97.0);
    }
}

TEST_F(M4ATempo, RefusalsLeaveTheFileUnchanged)
{
    const QByteArray bad("\0\0\0\1xxxx", 8);
    const QByteArray big = box("moov", box("skip", QByteArray(16'777'200 - 16, 0)));
    for (const QByteArray &source : {moovFile(bad), moovFile(box("udta", bad)), moovFile(box("udta", box("meta", "ab"))),
                                     ftyp + mdat, ftyp + big}) {
        test::writeFile(file, source);
        EXPECT_THROW(M4ATempoMetadata::write(120.0, file), TempoWriteError);
        EXPECT_EQ(test::readAll(file), source);
    }
    const CurrentCancellation::Scope scope(test::cancelledToken());
    test::writeFile(file, moovFile({}));
    EXPECT_THROW(M4ATempoMetadata::write(120.0, file), Cancelled);
    EXPECT_EQ(test::readAll(file), moovFile({}));
}
