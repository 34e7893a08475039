#include "tags/m4a_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "tags/tempo_identity.h"
#include "tags/tempo_write_error.h"
#include "mpeg4_fixtures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tampod;
using test::mpeg4::topLevel;

namespace {

QByteArray box(const QByteArray &name, const QByteArray &body)
{
    ByteWriter out;
    out.u32be(static_cast<std::uint32_t>(body.size() + 8)).bytes(name).bytes(body);
    return out.take();
}

QByteArray largeBox(const QByteArray &name, const QByteArray &body)
{
    ByteWriter out;
    out.u32be(1).bytes(name).u64be(static_cast<std::uint64_t>(body.size() + 16)).bytes(body);
    return out.take();
}

QByteArray fullBody(const QByteArray &text)
{
    return QByteArray(4, '\0') + text;
}

QByteArray freeform(const QByteArray &text, const QByteArray &mean = TempoIdentity::freeformMean,
                    const QByteArray &name = "BPM")
{
    ByteWriter data;
    data.u32be(1).u32be(0).bytes(text);
    return box("----", box("mean", fullBody(mean)) + box("name", fullBody(name)) + box("data", data.data()));
}

QByteArray tmpo(std::uint16_t value, int dataLength = 10)
{
    ByteWriter data;
    data.u32be(21).u32be(0).u16be(value);
    QByteArray body = data.take();
    body.resize(dataLength, '\0');
    return box("tmpo", box("data", body));
}

QByteArray hdlr()
{
    ByteWriter body;
    body.zeros(8).bytes("mdir").zeros(13);
    return box("hdlr", body.data());
}

QByteArray ilst(const QByteArray &items)
{
    return box("udta", box("meta", fullBody(hdlr() + box("ilst", items))));
}

const QByteArray ftyp = box("ftyp", QByteArray("M4A \0\0\0\0M4A isom", 16));
const QByteArray trak = box("trak", box("tkhd", QByteArray(84, 0)));
const QByteArray mdat = box("mdat", QByteArray(3000, '\x33'));

QByteArray moovFile(const QByteArray &moovBody)
{
    return ftyp + mdat + box("moov", trak + moovBody);
}

class M4ATempo : public ::testing::Test {
protected:
    std::optional<double> read(const QByteArray &bytes)
    {
        test::writeFile(path, bytes);
        return M4ATempoMetadata::read(path);
    }
    std::optional<double> readItems(const QByteArray &items) { return read(moovFile(ilst(items))); }

    // Writes and returns the file; a refusal leaves the file as it was.
    QByteArray write(const QByteArray &bytes, std::optional<double> bpm)
    {
        test::writeFile(path, bytes);
        M4ATempoMetadata::write(bpm, path);
        return test::readAll(path);
    }
    void expectRefused(const QByteArray &bytes, double bpm, const char *why)
    {
        test::writeFile(path, bytes);
        try {
            M4ATempoMetadata::write(bpm, path);
            ADD_FAILURE() << why << ": accepted";
        } catch (const TempoWriteError &error) {
            EXPECT_EQ(error.reason(), TempoWriteError::Reason::tempoMetadata) << why;
        }
        EXPECT_EQ(test::readAll(path), bytes) << why;
    }

    test::TempDir dir;
    QString path = dir.file(QStringLiteral("file.m4a"));
};

} // namespace

TEST_F(M4ATempo, PairsThePreciseTextWithTheStandardValue)
{
    EXPECT_EQ(readItems(tmpo(120) + freeform("120.4")), 120.4);
    EXPECT_EQ(readItems(tmpo(121) + freeform("120.4")), 121.0);
    EXPECT_EQ(readItems(freeform("120.5") + tmpo(120)), 120.5);
    EXPECT_EQ(readItems(freeform("120.5") + tmpo(121)), 121.0);
    EXPECT_EQ(readItems(freeform("123.457")), 123.457);
    EXPECT_EQ(readItems(tmpo(128)), 128.0);
    EXPECT_EQ(readItems(tmpo(0) + freeform("0.4")), 0.4);
    EXPECT_EQ(readItems(tmpo(0)), std::nullopt);
    EXPECT_EQ(readItems(tmpo(90, 9) + freeform("100.25")), 100.25);
    EXPECT_EQ(readItems(tmpo(90, 11) + freeform("100.25")), 100.25);
    EXPECT_EQ(readItems(tmpo(90) + tmpo(100) + freeform("100.25")), 90.0) << "only the first tmpo counts";
    EXPECT_EQ(readItems(freeform("99", "com.apple.iTunes") + freeform("98", TempoIdentity::freeformMean, "bpm")
                        + freeform("97.5")),
              97.5);
    for (const QByteArray &text : {QByteArray(" 97.5"), QByteArray("97.5 "), QByteArray("0"), QByteArray("-3"),
                                   QByteArray("nan"), QByteArray("inf"), QByteArray("97.5\0", 5), QByteArray("\0" "97.5", 5)})
        EXPECT_EQ(readItems(freeform(text)), std::nullopt) << text.toHex().toStdString();
    EXPECT_EQ(readItems(freeform("1.2e2")), 120.0);
    EXPECT_EQ(readItems(box("----", QByteArray("\0\0\0\1junk", 8)) + freeform("97.5")), std::nullopt)
        << "a malformed freeform item ends the read";
    EXPECT_EQ(readItems(freeform("97.5") + box("----", QByteArray("\0\0\0\1junk", 8))), 97.5);
    EXPECT_EQ(readItems(box("----", box("mean", "ab") + box("name", fullBody("BPM"))) + freeform("96.5")), 96.5);
}

TEST_F(M4ATempo, TheTopLevelWalk)
{
    const QByteArray tempo = box("moov", ilst(freeform("101.5")));
    EXPECT_EQ(read(ftyp + largeBox("mdat", QByteArray(100, 0)) + tempo), 101.5);
    EXPECT_EQ(read(ftyp + box("mdat", QByteArray(100, 0)) + tempo + box("moov", ilst(freeform("5.0")))), 101.5);

    const QByteArray freeBox = box("free", {});
    EXPECT_EQ(read(freeBox.repeated(4'095) + tempo), 101.5);
    EXPECT_EQ(read(freeBox.repeated(4'096) + tempo), std::nullopt);

    // A moov of exactly 16 MiB, header included, and one byte more.
    const QByteArray items = ilst(freeform("101.5"));
    const QByteArray filler = box("skip", QByteArray(16'777'216 - 8 - items.size() - 8, 0));
    EXPECT_EQ(read(box("moov", items + filler)), 101.5);
    EXPECT_EQ(read(box("moov", items + filler + "x")), std::nullopt);

    QByteArray toEnd = ftyp + box("mdat", QByteArray(10, 0)) + tempo;
    toEnd.replace(ftyp.size(), 4, QByteArray(4, '\0'));
    EXPECT_EQ(read(toEnd), std::nullopt) << "a box of size 0 runs to the end";
    QByteArray moovToEnd = ftyp + tempo;
    moovToEnd.replace(ftyp.size(), 4, QByteArray(4, '\0'));
    EXPECT_EQ(read(moovToEnd), 101.5);

    for (const QByteArray &damaged : {ftyp + box("mdat", {}).left(7), ftyp + QByteArray("\0\0\0\4free", 8) + tempo,
                                      ftyp + QByteArray("\0\0\0\1mdat\0\0\0\0\0\0\0\x0F", 16) + tempo,
                                      ftyp + box("mdat", QByteArray(10, 0)).chopped(1) + tempo, QByteArray()})
        EXPECT_EQ(read(damaged), std::nullopt) << damaged.toHex().toStdString();
    EXPECT_EQ(M4ATempoMetadata::read(dir.file("missing.m4a")), std::nullopt);
}

TEST_F(M4ATempo, MalformedBoxesOnThePathGiveNoTempo)
{
    const QByteArray items = freeform("110.5");
    const QByteArray meta = fullBody(hdlr() + box("ilst", items));
    for (const QByteArray &bad : {QByteArray("\0\0\0\0xxxx", 8), QByteArray("\0\0\0\1xxxx", 8), QByteArray("\0\0\0\7xxxx", 8)}) {
        EXPECT_EQ(read(moovFile(bad + ilst(items))), std::nullopt) << "moov";
        EXPECT_EQ(read(moovFile(box("udta", bad + box("meta", meta)))), std::nullopt) << "udta";
        EXPECT_EQ(read(moovFile(box("udta", box("meta", fullBody(bad) + meta.mid(4))))), std::nullopt) << "meta";
        EXPECT_EQ(read(moovFile(box("udta", box("meta", fullBody(box("ilst", items + bad)))))), std::nullopt) << "ilst";
        // Boxes off the path are never looked into.
        EXPECT_EQ(read(moovFile(box("trak", bad) + ilst(items))), 110.5);
    }
    EXPECT_EQ(read(moovFile(box("udta", box("meta", fullBody(box("ilst", items + "abc")))))), std::nullopt);
    EXPECT_EQ(read(moovFile(box("udta", box("meta", "abc")))), std::nullopt);
    EXPECT_EQ(read(moovFile(box("udta", box("meta", fullBody(box("list", items)))))), std::nullopt);
    EXPECT_EQ(read(moovFile(box("udta", box("meta", box("ilst", items))))), std::nullopt)
        << "meta is always a full box";
}

TEST_F(M4ATempo, WritesTheItemsAndReadsThemBack)
{
    const QByteArray source = moovFile(ilst(box("\xA9nam", "song")));
    const QByteArray written = write(source, 120.0);
    const QByteArray expectedItems = box("\xA9nam", "song") + freeform("120.0") + tmpo(120);
    EXPECT_TRUE(written.endsWith(box("moov", trak + ilst(expectedItems))));
    EXPECT_EQ(M4ATempoMetadata::read(path), 120.0);

    struct Case {
        double bpm;
        QByteArray text;
        std::optional<std::uint16_t> standard;
    };
    for (const Case &c : {Case{120.5, "120.5", 120}, Case{120.6, "120.6", 121}, Case{0.4, "0.4", std::nullopt},
                          Case{65'535.5, "65535.5", 65'535}, Case{65'535.6, "65535.6", std::nullopt},
                          Case{123.457, "123.457", 123}}) {
        const QByteArray items = freeform(c.text) + (c.standard ? tmpo(*c.standard) : QByteArray());
        EXPECT_TRUE(write(moovFile({}), c.bpm).endsWith(box("moov", trak + box("udta", box("meta", fullBody(hdlr() + box("ilst", items)))))))
            << c.bpm;
        EXPECT_EQ(M4ATempoMetadata::read(path), c.bpm);
    }
    for (std::optional<double> bpm : std::initializer_list<std::optional<double>>{
             std::nullopt, 0.0, -2.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(write(source, bpm), source);
    for (double bpm : {1e-300, 1.7976931348623157e308}) {
        write(source, bpm);
        EXPECT_EQ(M4ATempoMetadata::read(path), bpm);
    }
}

TEST_F(M4ATempo, CompletesAMissingPath)
{
    const QByteArray items = freeform("100.0") + tmpo(100);
    const QByteArray name = box("\xA9nam", "x");
    struct Case {
        const char *what;
        QByteArray before, after;
    };
    const Case cases[] = {
        {"no udta", {}, box("udta", box("meta", fullBody(hdlr() + box("ilst", items))))},
        {"udta without meta", box("udta", box("cprt", "c")),
         box("udta", box("cprt", "c") + box("meta", fullBody(hdlr() + box("ilst", items))))},
        {"meta without ilst", box("udta", box("meta", QByteArray("\1\2\3\4") + box("hdlr", "h"))),
         box("udta", box("meta", QByteArray("\1\2\3\4") + box("hdlr", "h") + box("ilst", items)))},
        {"an earlier tmpo stays first", ilst(tmpo(99) + name), ilst(tmpo(99) + name + items)},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(write(moovFile(c.before), 100.0).endsWith(box("moov", trak + c.after))) << c.what;
        EXPECT_EQ(M4ATempoMetadata::read(path), c.what == std::string("an earlier tmpo stays first") ? 99.0 : 100.0);
    }
}

TEST_F(M4ATempo, TheOldMoovBecomesFreeAndNothingElseMoves)
{
    const QByteArray moov = box("moov", trak + ilst(box("\xA9nam", "a")));
    const QByteArray largeMoov = largeBox("moov", trak + ilst(box("\xA9nam", "a")));
    for (const QByteArray &oldMoov : {moov, largeMoov}) {
        const QByteArray source = ftyp + oldMoov + mdat;
        const QByteArray written = write(source, 97.0);
        ASSERT_GT(written.size(), source.size());
        EXPECT_EQ(written.left(source.size()), QByteArray(source).replace(ftyp.size() + 4, 4, "free"));
        const auto boxes = topLevel(written);
        ASSERT_EQ(boxes.size(), 4);
        EXPECT_EQ(boxes[1].name, "free");
        EXPECT_EQ(boxes[1].size, oldMoov.size());
        EXPECT_EQ(boxes[3].name, "moov");
        EXPECT_EQ(boxes[3].offset, source.size());
        EXPECT_EQ(ByteReader(written).u32beAt(static_cast<size_t>(source.size())), written.size() - source.size())
            << "the new moov has a 32-bit size";
        EXPECT_EQ(M4ATempoMetadata::read(path), 97.0);
    }
}

TEST_F(M4ATempo, AMoovRunningToTheEndGetsItsRealSize)
{
    QByteArray source = ftyp + mdat + box("moov", trak);
    const qsizetype moovAt = ftyp.size() + mdat.size();
    source.replace(moovAt, 4, QByteArray(4, '\0'));
    const QByteArray written = write(source, 111.5);
    const auto boxes = topLevel(written);
    ASSERT_EQ(boxes.size(), 4);
    EXPECT_EQ(boxes[2].name, "free");
    EXPECT_EQ(boxes[2].size, source.size() - moovAt);
    EXPECT_EQ(boxes[3].name, "moov");
    EXPECT_EQ(M4ATempoMetadata::read(path), 111.5);
}

TEST_F(M4ATempo, RefusalsLeaveTheFileUnchanged)
{
    for (const QByteArray &bad : {QByteArray("\0\0\0\0xxxx", 8), QByteArray("\0\0\0\1xxxx", 8)}) {
        expectRefused(moovFile(bad), 120.0, "moov child of size 0 or 1");
        expectRefused(moovFile(box("udta", bad)), 120.0, "udta child");
        expectRefused(moovFile(box("udta", box("meta", fullBody(bad)))), 120.0, "meta child");
    }
    expectRefused(moovFile(box("udta", box("meta", "ab"))), 120.0, "meta body under 4 bytes");
    expectRefused(ftyp + mdat, 120.0, "no moov");
    expectRefused(ftyp + box("moov", {}).left(7), 120.0, "short moov header");
    // A moov of 16,777,200 bytes that the new items push past 16 MiB.
    const QByteArray big = box("moov", box("skip", QByteArray(16'777'200 - 16, 0)));
    ASSERT_EQ(big.size(), 16'777'200);
    expectRefused(ftyp + big, 120.0, "moov growing past 16 MiB");

    CancellationSource cancelled;
    cancelled.cancel();
    const CurrentCancellation::Scope scope(cancelled.token());
    const QByteArray source = moovFile({});
    test::writeFile(path, source);
    EXPECT_THROW(M4ATempoMetadata::write(120.0, path), Cancelled);
    EXPECT_EQ(test::readAll(path), source);
}
