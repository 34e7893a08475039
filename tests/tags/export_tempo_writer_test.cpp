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
#include <functional>
#include <cmath>
#include <limits>
#include <sys/stat.h>

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
    std::uint32_t declared() const
    {
        const QByteArray out = contents();
        return out.startsWith("RIFF") ? ByteReader(out).u32leAt(4) : ByteReader(out).u32beAt(4);
    }
    // The reason of the refusal, the file left as it was.
    std::optional<TempoWriteError::Reason> refusal(const QByteArray &file, Container container)
    {
        std::optional<TempoWriteError::Reason> reason;
        try {
            ExportTempoWriter::write(120.0, put(file), container);
        } catch (const TempoWriteError &error) {
            reason = error.reason();
        }
        EXPECT_EQ(contents(), file);
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
    const auto field = littleEndian ? ByteWriter().u32le(std::uint32_t(size)) : ByteWriter().u32be(std::uint32_t(size));
    return file.replace(4, 4, field.data());
}

} // namespace

TEST_F(ExportTempo, Tempo120AppendsExactlyTheDocumentedBytes)
{
    const QByteArray tag = QByteArray::fromHex("494433 03 00 00 00000029"
                                               "5442504d 00000004 0000 00 313230"
                                               "54585858 00000011 0000 00 74616d504f445f42504d 00 3132302e30");
    const QByteArray acidChunk = QByteArray::fromHex("61636964 18000000 01000000") + QByteArray(16, '\0') + QByteArray::fromHex("0000f042");
    ExportTempoWriter::write(120.0, put(wav), Container::wav);
    EXPECT_EQ(contents(), withDeclared(wav + QByteArray::fromHex("69643320 33000000") + tag + '\0' + acidChunk, wav.size() + 92 - 8));
    ExportTempoWriter::write(120.0, put(aiff), Container::aiff);
    EXPECT_EQ(contents(), withDeclared(aiff + QByteArray::fromHex("49443320 00000033") + tag + '\0', aiff.size() + 60 - 8, false));

    // Every call appends a new pair after whatever is there; the first tag is the one read.
    ExportTempoWriter::write(121.0, put(wav), Container::wav);
    ExportTempoWriter::write(120.0, path, Container::wav);
    EXPECT_EQ(contents().size(), wav.size() + 2 * 92);
    EXPECT_EQ(declared() + 8ll, contents().size());
    EXPECT_EQ(ContainerTempoReader::read(path, true), 121.0);
}

TEST_F(ExportTempo, EveryWrittenTempoReadsBackExactly)
{
    for (double bpm : {120.0, 120.5, 120.51, 123.457, 98.25, 0.4, 97.3, 1.0 / 3, 1e-7, 1e20, 1e39, 1e300,
                       std::numeric_limits<double>::max(), 5e-324}) {
        for (auto [container, file] : {std::pair(Container::aiff, aiff), std::pair(Container::wav, wav)}) {
            ExportTempoWriter::write(bpm, put(file), container);
            EXPECT_EQ(ContainerTempoReader::read(path, true), bpm) << bpm;
            EXPECT_EQ(declared() + 8ll, contents().size()) << bpm;
        }
        // The WAV (written last) holds the float form in "acid" whenever there is a positive finite one.
        const float single = bpm < 3.4e38 ? float(bpm) : INFINITY;
        if (single > 0 && std::isfinite(single))
            EXPECT_EQ(WAVTempoReader::read(path, false), double(single)) << bpm;
        else
            EXPECT_FALSE(contents().contains("acid")) << bpm;
    }
}

TEST_F(ExportTempo, OddLengthsAndTheOmittedPadByte)
{
    // An odd data chunk written without its pad byte: one alignment byte keeps the walk in step.
    const QByteArray odd = withDeclared(riff({{"data", pcm + "x"}}).chopped(1), 413);
    ExportTempoWriter::write(120.0, put(odd), Container::wav);
    EXPECT_EQ(contents().mid(odd.size(), 5), QByteArray("\0id3 ", 5));
    EXPECT_EQ(WAVTempoReader::read(path, false), 120.0);

    // A final odd chunk whose pad byte the declared size leaves out is accepted, unless that
    // byte is not zero.
    const QByteArray padded = withDeclared(riff({{"data", pcm}, {"note", "abc"}}), riff({{"data", pcm}, {"note", "abc"}}).size() - 9);
    ExportTempoWriter::write(120.0, put(padded), Container::wav);
    EXPECT_EQ(declared() + 8ll, contents().size());
    EXPECT_EQ(ContainerTempoReader::read(path, true), 120.0);
    EXPECT_EQ(refusal(padded.chopped(1) + 'z', Container::wav), TempoWriteError::Reason::tempoMetadata);
}

TEST_F(ExportTempo, RefusesWhatItCannotTagAndLeavesTheFileUntouched)
{
    const std::pair<QByteArray, Container> refused[] = {
        {wav, Container::unsupported}, {aiff, Container::wav}, {wav, Container::aiff},
        {form({{"COMM", QByteArray(18, 2)}}, "AIFC"), Container::aiff}, {riff({{"data", pcm}}, std::nullopt, "RF64"), Container::wav},
        {withDeclared(wav, wav.size()), Container::wav}, {withDeclared(wav, wav.size() - 10), Container::wav},
        {wav.left(11), Container::wav},
    };
    for (const auto &[file, container] : refused)
        EXPECT_EQ(refusal(file, container), TempoWriteError::Reason::tempoMetadata) << file.left(12).toStdString();
    EXPECT_THROW(ExportTempoWriter::write(120.0, dir.file(QStringLiteral("missing")), Container::wav), SystemError);

    // No usable tempo: nothing is done, whatever the file or format.
    put(wav);
    for (auto bpm : {std::optional<double>(), std::optional(0.0), std::optional(-1.0), std::optional(std::nan("")),
                     std::optional(HUGE_VAL)}) {
        ExportTempoWriter::write(bpm, path, Container::wav);
        ExportTempoWriter::write(bpm, path, Container::unsupported);
        ExportTempoWriter::write(bpm, dir.file(QStringLiteral("missing")), Container::aiff);
    }
    EXPECT_EQ(contents(), wav);
    {
        CancellationSource source;
        source.cancel();
        CurrentCancellation::Scope scope(source.token());
        EXPECT_THROW(ExportTempoWriter::write(120.0, path, Container::wav), Cancelled);
    }
    EXPECT_EQ(contents(), wav);

    // A sparse file just under 4 GiB with an exact RIFF size: the tags would pass the limit.
    put(withDeclared(riff({}), 0xFFFF'FFF0ll - 8));
    ASSERT_TRUE(QFile(path).resize(0xFFFF'FFF0ll));
    try {
        ExportTempoWriter::write(120.0, path, Container::wav);
        ADD_FAILURE() << "4 GB limit passed";
    } catch (const TempoWriteError &error) {
        EXPECT_EQ(error.reason(), TempoWriteError::Reason::tooLarge);
    }
    EXPECT_EQ(QFileInfo(path).size(), 0xFFFF'FFF0ll);
    QFile::remove(path);
}

// Every writer changes only the file named, never one a planted link points to, and never
// waits on a FIFO.
TEST_F(ExportTempo, WritersFollowNoLinkAndWaitOnNoFifo)
{
    const QByteArray m4a = test::mpeg4::box("moov", {});
    const QString target = dir.file(QStringLiteral("target")), link = dir.file(QStringLiteral("link"));
    const std::pair<QByteArray, std::function<void()>> writers[] = {
        {wav, [&] { ExportTempoWriter::write(120.0, link, Container::wav); }},
        {m4a, [&] { M4ATempoMetadata::write(120.0, link); }},
        {test::flac::file({{0, test::flac::streamInfo(44100, 16)}}),
         [&] { FLACTempoMetadata::copyTagging(120.0, target, link); }},
    };
    for (const auto &[file, write] : writers) {
        QFile::remove(link);
        test::writeFile(target, file);
        ASSERT_TRUE(QFile::link(target, link));
        try {
            write();
            ADD_FAILURE() << "written through a link";
        } catch (const TempoWriteError &error) {
            EXPECT_EQ(error.reason(), TempoWriteError::Reason::storage); // the FLAC copy's destination
        } catch (const SystemError &error) {
            EXPECT_EQ(error.errnoValue(), ELOOP);
        }
        EXPECT_EQ(test::readAll(target), file);
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
