#include "tags/export_tempo_writer.h"

#include "concurrency/cancellation.h"
#include "tags/container_tempo_reader.h"
#include "tags/flac_tempo_metadata.h"
#include "tags/m4a_tempo_metadata.h"
#include "tags/tempo_write_error.h"
#include "tags/wav_tempo_reader.h"
#include "fixtures.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <sys/stat.h>

using namespace tampod;
using namespace tampod::test::tags;
using Container = ExportTempoWriter::Container;
using Reason = TempoWriteError::Reason;

namespace {

class ExportTempo : public ::testing::Test {
protected:
    QByteArray write(const QByteArray &file, Container container, std::optional<double> bpm = 120.0)
    {
        test::writeFile(path, file);
        ExportTempoWriter::write(bpm, path, container);
        const QByteArray out = test::readAll(path);
        EXPECT_EQ((out.startsWith("RIFF") ? ByteReader(out).u32leAt(4) : ByteReader(out).u32beAt(4)) + 8ll, out.size());
        return out;
    }
    // The reason of the refusal, the file left as it was.
    std::optional<Reason> refusal(const QByteArray &file, Container container)
    {
        const auto reason = refusalOf([&] { write(file, container); });
        EXPECT_EQ(test::readAll(path), file);
        return reason;
    }

    test::TempDir dir;
    QString path = dir.file(QStringLiteral("out"));
};

const QByteArray pcm(400, '\x11');
const QByteArray wav = riff({{"fmt ", QByteArray(16, 1)}, {"data", pcm}});
const QByteArray aiff = form({{"COMM", QByteArray(18, 2)}, {"SSND", pcm}});

QByteArray withDeclared(QByteArray file, qsizetype size, bool littleEndian = true)
{
    return file.replace(4, 4, (littleEndian ? ByteWriter().u32le(std::uint32_t(size)) : ByteWriter().u32be(std::uint32_t(size))).data());
}

} // namespace

TEST(TempoWriteError, TextsShownToTheUser)
{
    EXPECT_EQ(TempoWriteError(Reason::tempoMetadata).message(),
              "The BPM metadata could not be written and verified. No destination file was created.");
    EXPECT_EQ(TempoWriteError(Reason::tooLarge).message(),
              QString::fromUtf8("The output or its temporary uncompressed audio exceeds this version’s 4 GB limit. Choose fewer loop "
                                "repetitions, a lower sample rate or a lower bit depth where available."));
    EXPECT_EQ(TempoWriteError(Reason::storage).message(),
              "The output could not be saved. Check available space and write access, then try a new destination.");
}

TEST_F(ExportTempo, Tempo120AppendsExactlyTheDocumentedBytes)
{
    const QByteArray tag = hex("494433 03 00 00 00000029 5442504d 00000004 0000 00 313230"
                                               "54585858 00000011 0000 00 74616d504f445f42504d 00 3132302e30");
    const QByteArray acidChunk = hex("61636964 18000000 01000000") + QByteArray(16, '\0') + hex("0000f042");
    EXPECT_EQ(write(wav, Container::wav), withDeclared(wav + hex("69643320 33000000") + tag + '\0' + acidChunk, wav.size() + 84));
    EXPECT_EQ(write(aiff, Container::aiff), withDeclared(aiff + hex("49443320 00000033") + tag + '\0', aiff.size() + 52, false));

    // Every call appends a new pair after whatever is there; the first tag is the one read.
    ExportTempoWriter::write(121.0, path, Container::aiff);
    EXPECT_EQ(ContainerTempoReader::read(path, true), 120.0);
}

TEST_F(ExportTempo, EveryWrittenTempoReadsBackExactly)
{
    for (double bpm : {120.0, 120.5, 120.51, 123.457, 98.25, 0.4, 97.3, 1.0 / 3, 1e-7, 1e20, 1e39, 1e300,
                       std::numeric_limits<double>::max(), 5e-324}) {
        write(aiff, Container::aiff, bpm);
        EXPECT_EQ(ContainerTempoReader::read(path, true), bpm) << bpm;
        const QByteArray out = write(wav, Container::wav, bpm);
        EXPECT_EQ(ContainerTempoReader::read(path, true), bpm) << bpm;
        // "acid" holds the float form whenever there is a positive finite one.
        const float single = bpm < 3.4e38 ? float(bpm) : INFINITY;
        EXPECT_EQ(WAVTempoReader::read(path, false), single > 0 && std::isfinite(single) ? std::optional<double>(single) : std::nullopt);
        EXPECT_EQ(out.contains("acid"), single > 0 && std::isfinite(single)) << bpm;
    }
}

TEST_F(ExportTempo, OddLengthsAndTheOmittedPadByte)
{
    // An odd data chunk written without its pad byte: one alignment byte keeps the walk in step.
    const QByteArray odd = withDeclared(riff({{"data", pcm + "x"}}).chopped(1), 413);
    EXPECT_EQ(write(odd, Container::wav).mid(odd.size(), 5), QByteArray("\0id3 ", 5));
    EXPECT_EQ(WAVTempoReader::read(path, false), 120.0);

    // A final odd chunk whose pad byte the declared size leaves out is accepted, unless that
    // byte is not zero.
    const QByteArray padded = riff({{"data", pcm}, {"note", "abc"}});
    write(withDeclared(padded, padded.size() - 9), Container::wav);
    EXPECT_EQ(ContainerTempoReader::read(path, true), 120.0);
    EXPECT_EQ(refusal(withDeclared(padded.chopped(1) + 'z', padded.size() - 9), Container::wav), Reason::tempoMetadata);
}

TEST_F(ExportTempo, RefusesWhatItCannotTagAndLeavesTheFileUntouched)
{
    const std::pair<QByteArray, Container> refused[] = {
        {wav, Container::unsupported}, {aiff, Container::wav}, {wav, Container::aiff}, {wav.left(11), Container::wav},
        {form({{"COMM", QByteArray(18, 2)}}, "AIFC"), Container::aiff}, {riff({{"data", pcm}}, std::nullopt, "RF64"), Container::wav},
        {withDeclared(wav, wav.size()), Container::wav}, {withDeclared(wav, wav.size() - 10), Container::wav},
    };
    for (const auto &[file, container] : refused)
        EXPECT_EQ(refusal(file, container), Reason::tempoMetadata) << file.left(12).toStdString();
    EXPECT_THROW(ExportTempoWriter::write(120.0, dir.file(QStringLiteral("missing")), Container::wav), SystemError);

    // No usable tempo: nothing is done, whatever the file or format.
    for (auto bpm : {std::optional<double>(), std::optional(0.0), std::optional(-1.0), std::optional(std::nan("")), std::optional(HUGE_VAL)}) {
        EXPECT_EQ(write(wav, Container::wav, bpm), wav);
        EXPECT_EQ(write(wav, Container::unsupported, bpm), wav);
        ExportTempoWriter::write(bpm, dir.file(QStringLiteral("missing")), Container::aiff);
    }
    {
        const CurrentCancellation::Scope scope(test::cancelledToken());
        EXPECT_THROW(write(wav, Container::wav), Cancelled);
    }
    EXPECT_EQ(test::readAll(path), wav);

    // A sparse file just under 4 GiB with an exact RIFF size: the tags would pass the limit.
    test::writeFile(path, withDeclared(riff({}), 0xFFFF'FFF0ll - 8));
    ASSERT_TRUE(QFile(path).resize(0xFFFF'FFF0ll));
    EXPECT_EQ(refusalOf([&] { ExportTempoWriter::write(120.0, path, Container::wav); }), Reason::tooLarge);
    EXPECT_EQ(QFileInfo(path).size(), 0xFFFF'FFF0ll);
    QFile::remove(path);
}

// Every writer changes only the file named, never one a planted link points to (the FLAC copy's
// link dangles: its target is not made either), and never waits on a FIFO.
TEST_F(ExportTempo, WritersFollowNoLinkAndWaitOnNoFifo)
{
    const QString target = dir.file(QStringLiteral("target")), link = dir.file(QStringLiteral("link"));
    const QString source = dir.file(QStringLiteral("source.flac")), absent = dir.file(QStringLiteral("absent"));
    test::writeFile(source, test::flac::file({test::flac::info}));
    const std::pair<QByteArray, std::function<void()>> writers[] = {
        {wav, [&] { ExportTempoWriter::write(120.0, link, Container::wav); }},
        {test::mpeg4::box("moov", {}), [&] { M4ATempoMetadata::write(120.0, link); }},
        {{}, [&] { FLACTempoMetadata::copyTagging(120.0, source, link); }},
    };
    for (const auto &[file, write] : writers) {
        QFile::remove(link);
        test::writeFile(target, file);
        ASSERT_TRUE(QFile::link(file.isEmpty() ? absent : target, link));
        try {
            // The FLAC copy's destination is created exclusively: a link there is a storage failure.
            EXPECT_EQ(refusalOf(write), Reason::storage) << "written through a link";
        } catch (const SystemError &error) {
            EXPECT_EQ(error.errnoValue(), ELOOP);
        }
        EXPECT_EQ(test::readAll(target), file);
        EXPECT_FALSE(QFile::exists(absent));
    }

    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(FLACTempoMetadata::copyTagging(120.0, fifo, dir.file(QStringLiteral("copy.flac"))), NotARegularFile);
    EXPECT_THROW(M4ATempoMetadata::write(120.0, fifo), NotARegularFile);
    EXPECT_THROW(ExportTempoWriter::write(120.0, fifo, Container::wav), NotARegularFile);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("copy.flac"))));
}
