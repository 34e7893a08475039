#include "tags/export_tempo_writer.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "core/error.h"
#include "tags/container_tempo_reader.h"
#include "tags/tempo_write_error.h"
#include "tags/wav_tempo_reader.h"
#include "support/test_support.h"
#include "tag_fixtures.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

using namespace tampod;
using namespace tampod::test::tags;
using Container = ExportTempoWriter::Container;

namespace {

class ExportTempo : public ::testing::Test {
protected:
    QString put(const QByteArray &bytes)
    {
        test::writeFile(path, bytes);
        return path;
    }
    QByteArray contents() const { return test::readAll(path); }
    void expectRefused(const QByteArray &file, Container container, const char *why)
    {
        put(file);
        try {
            ExportTempoWriter::write(120.0, path, container);
            ADD_FAILURE() << why << ": accepted";
        } catch (const TempoWriteError &error) {
            EXPECT_EQ(error.reason(), TempoWriteError::Reason::tempoMetadata) << why;
        }
        EXPECT_EQ(contents(), file) << why;
    }

    test::TempDir dir;
    QString path = dir.file(QStringLiteral("out"));
};

const QByteArray pcm(400, '\x11');
QByteArray wav() { return riff({{"fmt ", QByteArray(16, '\1')}, {"data", pcm}}); }
QByteArray aiff() { return form({{"COMM", QByteArray(18, '\2')}, {"SSND", pcm}}); }

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The 51-byte ID3v2.3 tag for tempo 120: TBPM "120" and TXXX "tamPOD_BPM" "120.0".
const QByteArray tag120 = hex("494433 03 00 00 00000029"
                              "5442504d 00000004 0000 00 313230"
                              "54585858 00000011 0000 00 74616d504f445f42504d 00 3132302e30");

void setDeclared(QByteArray &file, qsizetype size)
{
    ByteWriter field;
    field.u32le(static_cast<std::uint32_t>(size));
    file.replace(4, 4, field.data());
}

} // namespace

TEST_F(ExportTempo, Tempo120AppendsExactlyTheDocumentedChunks)
{
    ASSERT_EQ(tag120.size(), 51);
    const QByteArray before = wav();
    ExportTempoWriter::write(120.0, put(before), Container::wav);
    const QByteArray acidChunk = hex("61636964 18000000 01000000") + QByteArray(16, '\0') + hex("0000f042");
    QByteArray expected = before + hex("69643320 33000000") + tag120 + QByteArray(1, '\0') + acidChunk;
    ByteWriter size;
    size.u32le(static_cast<std::uint32_t>(expected.size() - 8));
    expected.replace(4, 4, size.data());
    EXPECT_EQ(contents().size() - before.size(), 92);
    EXPECT_EQ(contents(), expected);

    const QByteArray beforeAiff = aiff();
    ExportTempoWriter::write(120.0, put(beforeAiff), Container::aiff);
    QByteArray expectedAiff = beforeAiff + hex("49443320 00000033") + tag120 + QByteArray(1, '\0');
    ByteWriter sizeBE;
    sizeBE.u32be(static_cast<std::uint32_t>(expectedAiff.size() - 8));
    expectedAiff.replace(4, 4, sizeBE.data());
    EXPECT_EQ(contents().size() - beforeAiff.size(), 60);
    EXPECT_EQ(contents(), expectedAiff);
}

TEST_F(ExportTempo, EveryWrittenTempoReadsBackExactly)
{
    const double tempos[] = {120, 120.5, 120.51, 123.457, 98.25, 0.4, 97.3, 1.0 / 3, 999.999,
                             1e-7, 1e20, 1e39, 1e300, std::numeric_limits<double>::max(), 5e-324};
    for (double bpm : tempos) {
        for (auto [container, file] : {std::pair(Container::wav, wav()), std::pair(Container::aiff, aiff())}) {
            ExportTempoWriter::write(bpm, put(file), container);
            EXPECT_EQ(ContainerTempoReader::read(path, false), bpm) << bpm;
            EXPECT_EQ(ContainerTempoReader::read(path, true), bpm) << bpm;
            const QByteArray out = contents();
            const std::uint32_t declared = container == Container::wav ? ByteReader(out).u32leAt(4) : ByteReader(out).u32beAt(4);
            EXPECT_EQ(declared + 8ll, out.size()) << bpm;
        }
        // The acid chunk holds the float form whenever there is a positive finite one.
        ExportTempoWriter::write(bpm, put(wav()), Container::wav);
        const float single = bpm < 3.4e38 ? static_cast<float>(bpm) : INFINITY;
        if (single > 0 && std::isfinite(single))
            EXPECT_EQ(WAVTempoReader::read(path, false), static_cast<double>(single)) << bpm;
        else
            EXPECT_FALSE(contents().contains("acid")) << bpm;
    }

    ExportTempoWriter::write(120.5, put(wav()), Container::wav);
    EXPECT_TRUE(contents().contains(hex("00000004 0000 00") + "120"));
    EXPECT_TRUE(contents().contains(QByteArray("tamPOD_BPM\0" "120.5", 16)));
    ExportTempoWriter::write(120.51, put(wav()), Container::wav);
    EXPECT_TRUE(contents().contains(hex("00000004 0000 00") + "121"));
    EXPECT_TRUE(contents().contains(QByteArray("tamPOD_BPM\0" "120.51", 17)));
}

TEST_F(ExportTempo, OddLengthsAndTheOmittedPadByte)
{
    // An odd file gets one alignment byte so the new chunks start at even offsets
    // (an odd data chunk written without its pad byte)
    QByteArray odd = riff({{"data", pcm + "x"}}).chopped(1);
    setDeclared(odd, odd.size() - 8);
    ExportTempoWriter::write(120.0, put(odd), Container::wav);
    QByteArray out = contents();
    EXPECT_EQ(out.mid(odd.size(), 5), QByteArray("\0id3 ", 5));
    EXPECT_EQ(ByteReader(out).u32leAt(4) + 8ull, static_cast<std::uint64_t>(out.size()));
    EXPECT_EQ(WAVTempoReader::read(path, false), 120.0);

    // A final odd chunk whose pad byte the declared size leaves out is accepted.
    QByteArray padded = riff({{"data", pcm}, {"note", "abc"}});
    setDeclared(padded, padded.size() - 9);
    ASSERT_EQ(padded.size() % 2, 0);
    ExportTempoWriter::write(120.0, put(padded), Container::wav);
    out = contents();
    EXPECT_EQ(out.mid(padded.size(), 4), "id3 ");
    EXPECT_EQ(ByteReader(out).u32leAt(4) + 8ull, static_cast<std::uint64_t>(out.size()));
    EXPECT_EQ(ContainerTempoReader::read(path, true), 120.0);

    QByteArray notPad = padded;
    notPad[notPad.size() - 1] = 'z';
    expectRefused(notPad, Container::wav, "non-zero final byte");
}

TEST_F(ExportTempo, RefusesWhatItCannotTagWithoutTouchingTheFile)
{
    expectRefused(wav(), Container::unsupported, "unsupported format");
    expectRefused(aiff(), Container::wav, "AIFF as WAV");
    expectRefused(wav(), Container::aiff, "WAV as AIFF");
    expectRefused(form({{"COMM", QByteArray(18, '\2')}}, "AIFC"), Container::aiff, "AIFF-C");
    expectRefused(riff({{"data", pcm}}, std::nullopt, "RIFX"), Container::wav, "RIFX");
    expectRefused(riff({{"data", pcm}}, std::nullopt, "RF64"), Container::wav, "RF64");
    expectRefused(riff({{"data", pcm}}, 420), Container::wav, "declared size too large");
    expectRefused(riff({{"data", pcm}}, 400), Container::wav, "declared size too small");
    expectRefused(QByteArray("RIFF\4\0\0\0WAV"), Container::wav, "short header");
    expectRefused(QByteArray(), Container::wav, "empty file");

    const TempoWriteError error(TempoWriteError::Reason::tempoMetadata);
    EXPECT_EQ(error.message(), QStringLiteral("The BPM metadata could not be written and verified. "
                                              "No destination file was created."));

    EXPECT_THROW(ExportTempoWriter::write(120.0, dir.file(QStringLiteral("missing")), Container::wav), SystemError);

    // No usable tempo: nothing is done, whatever the file or format.
    const QByteArray file = wav();
    put(file);
    for (std::optional<double> bpm : {std::optional<double>(), std::optional(0.0), std::optional(-120.0),
                                      std::optional(std::nan("")), std::optional(HUGE_VAL)}) {
        ExportTempoWriter::write(bpm, path, Container::wav);
        ExportTempoWriter::write(bpm, path, Container::unsupported);
        ExportTempoWriter::write(bpm, dir.file(QStringLiteral("missing")), Container::aiff);
    }
    EXPECT_EQ(contents(), file);
}

TEST_F(ExportTempo, SizeLimitAndCancellationLeaveTheFileUntouched)
{
    // A sparse file just under 4 GiB whose RIFF size is exact: the tag would pass the limit.
    {
        const int fd = ::open(path.toLocal8Bit().constData(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::uint64_t length = 0xFFFF'FFF0ull;
        ByteWriter header;
        header.bytes("RIFF").u32le(static_cast<std::uint32_t>(length - 8)).bytes("WAVE");
        ASSERT_EQ(::write(fd, header.data().constData(), 12), 12);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0);
        ::close(fd);
    }
    try {
        ExportTempoWriter::write(120.0, path, Container::wav);
        ADD_FAILURE() << "accepted";
    } catch (const TempoWriteError &error) {
        EXPECT_EQ(error.reason(), TempoWriteError::Reason::tooLarge);
        EXPECT_EQ(error.message(), QStringLiteral("The output or its temporary uncompressed audio exceeds this "
                                                  "version\u2019s 4 GB limit. Choose fewer loop repetitions, a "
                                                  "lower sample rate or a lower bit depth where available."));
    }
    EXPECT_EQ(QFileInfo(path).size(), 0xFFFF'FFF0ll);
    QFile::remove(path);

    const QByteArray file = wav();
    put(file);
    CancellationSource source;
    source.cancel();
    {
        CurrentCancellation::Scope scope(source.token());
        EXPECT_THROW(ExportTempoWriter::write(120.0, path, Container::wav), Cancelled);
    }
    EXPECT_EQ(contents(), file);
}

TEST_F(ExportTempo, EveryCallAppendsANewPairOfChunks)
{
    const QByteArray file = wav();
    ExportTempoWriter::write(120.0, put(file), Container::wav);
    ExportTempoWriter::write(121.0, path, Container::wav);
    const QByteArray out = contents();
    EXPECT_EQ(out.size(), file.size() + 92 + 92);
    EXPECT_EQ(out.count("id3 "), 2);
    EXPECT_EQ(out.count("acid"), 2);
    EXPECT_EQ(ByteReader(out).u32leAt(4) + 8ull, static_cast<std::uint64_t>(out.size()));
    EXPECT_EQ(ContainerTempoReader::read(path, false), 120.0) << "the first tag chunk is read";
}
