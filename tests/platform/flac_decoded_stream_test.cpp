#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/internal/decoded_stream.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg/ffmpeg_probe.h"
#include "platform/decode/internal/flac/flac_decoded_stream.h"
#include "platform/decode/internal/flac/flac_frame_order.h"
#include "platform/decode/internal/flac/flac_length.h"
#include "platform/decode/internal/mpeg/trailing_tags.h"
#include "platform/internal/frame_crc.h"

#include <gtest/gtest.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <variant>

using namespace tampod;

namespace {

// A chord under noise, so the encoder uses every kind of subframe.
void makeFlac(const QString &path, qint64 frames, int channels, int bits)
{
    const QString left = QStringLiteral("0.4*sin(2*PI*440*t)+0.3*(random(0)-0.5)");
    const QString right = QStringLiteral("0.3*sin(2*PI*660*t)+0.2*(random(1)-0.5)");
    QStringList arguments{"-v", "error", "-y", "-f", "lavfi", "-i",
                          QStringLiteral("aevalsrc=%1:s=44100,atrim=end_sample=%2")
                              .arg(channels == 1 ? left : left + '|' + right)
                              .arg(frames),
                          "-c:a", path.endsWith(QStringLiteral(".wav")) ? "pcm_s16le" : "flac"};
    if (bits == 24)
        arguments << "-sample_fmt" << "s32";
    test::runChecked(QStringLiteral("ffmpeg"), arguments << path);
}

std::unique_ptr<DecodedStream> ffmpegStream(const FileHandle &file)
{
    return openFfmpegStream(file, ffmpeg::probeInputFormat(file), {});
}

// libFLAC's stream of a file, counting how often it hands over to FFmpeg; firstSample: the
// number of its first frame.
struct Native {
    explicit Native(const QString &path, int64_t firstSample = 0) : file(FileHandle::openOutside(path))
    {
        const auto described = ffmpegStream(file);
        stream = openFlacStream(file, ffmpeg::id3v2Length(file, 0), described->format(), described->knownLength().value_or(0),
                                [this](CancellationToken) {
                                    ++handovers;
                                    return ffmpegStream(file);
                                },
                                {}, std::nullopt, firstSample);
    }
    FileHandle file;
    int handovers = 0;
    std::unique_ptr<DecodedStream> stream;
};

// Everything from the position on, in blocks that straddle FLAC frames, or the error it ends in.
using Outcome = std::variant<QByteArray, QString>;

template <typename T>
QByteArray readRest(DecodedStream &stream, SampleSink::Layout layout, int64_t block = 777)
{
    const int channels = stream.format().channels;
    std::vector<T> all, buffer(size_t(block * channels));
    std::vector<std::vector<float>> planes(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(block)));
    std::vector<float *> planePointers;
    for (auto &plane : planes)
        planePointers.push_back(plane.data());
    SampleSink sink;
    sink.layout = layout;
    sink.channels = channels;
    sink.interleaved = reinterpret_cast<float *>(buffer.data());
    sink.ints = reinterpret_cast<int32_t *>(buffer.data());
    sink.planar = planePointers.data();
    while (const int64_t n = stream.read(sink, block)) {
        for (int64_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                all.push_back(layout == SampleSink::Layout::floatPlanar ? T(planes[size_t(c)][size_t(i)])
                                                                        : buffer[size_t(i * channels + c)]);
    }
    return test::bytesOf(all);
}

Outcome outcome(DecodedStream &stream, std::optional<int64_t> from = std::nullopt)
{
    try {
        if (from)
            stream.seek(*from);
        return readRest<float>(stream, SampleSink::Layout::floatInterleaved);
    } catch (const AudioFileError &error) {
        return error.message();
    }
}

} // namespace

TEST(FlacDecodedStream, DeliversWhatFfmpegDeliversInEveryLayout)
{
    test::TempDir dir;
    struct Shape {
        int bits, channels;
        qint64 frames;
    };
    for (const Shape &s : std::vector<Shape>{{16, 2, 1}, {16, 2, 4095}, {16, 2, 4097}, {16, 1, 100003},
                                             {24, 2, 17}, {24, 2, 100003}, {24, 1, 4608}}) {
        const QString path = dir.file(QStringLiteral("%1-%2-%3.flac").arg(s.bits).arg(s.channels).arg(s.frames));
        makeFlac(path, s.frames, s.channels, s.bits);
        SCOPED_TRACE(path.toStdString());
        Native native(path);
        ASSERT_TRUE(native.stream);
        auto reference = ffmpegStream(native.file);
        EXPECT_EQ(native.stream->knownLength(), std::optional<int64_t>(s.frames));
        for (auto layout : {SampleSink::Layout::floatInterleaved, SampleSink::Layout::floatPlanar}) {
            native.stream->seek(0);
            reference->seek(0);
            const QByteArray ours = readRest<float>(*native.stream, layout);
            EXPECT_EQ(ours.size(), qsizetype(s.frames * s.channels * 4));
            EXPECT_TRUE(ours == readRest<float>(*reference, layout));
        }
        native.stream->seek(0);
        reference->seek(0);
        EXPECT_TRUE(readRest<int32_t>(*native.stream, SampleSink::Layout::int32Interleaved, 8192)
                    == readRest<int32_t>(*reference, SampleSink::Layout::int32Interleaved, 8192));
        EXPECT_EQ(native.handovers, 0);
    }

    // An ID3v2 tag before the stream: libFLAC skips it as FFmpeg does.
    const QString plain = dir.file(QStringLiteral("16-2-4097.flac"));
    const QString tagged = dir.file(QStringLiteral("tagged.flac"));
    QByteArray tag("ID3\x04\x00\x00\x00\x00\x01\x00", 10);
    test::writeFile(tagged, tag + QByteArray(128, '\0') + test::readAll(plain));
    Native native(tagged);
    ASSERT_TRUE(native.stream);
    EXPECT_TRUE(outcome(*native.stream) == outcome(*Native(plain).stream));
    EXPECT_EQ(native.handovers, 0);
    AudioFileReader reader(tagged);
    EXPECT_EQ(reader.length(), 4097);
}

TEST(FlacDecodedStream, DamagedFilesEndAndFailAsFfmpegAloneDoes)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("d.flac"));
    makeFlac(path, 100000, 2, 16);
    const QByteArray whole = test::readAll(path);

    std::vector<std::pair<const char *, QByteArray>> damaged;
    for (qsizetype cut : {whole.size() / 2, whole.size() - 3, qsizetype(9000)})
        damaged.emplace_back("cut", whole.left(cut));
    QByteArray flipped = whole;
    for (qsizetype i = whole.size() / 3; i < whole.size() / 3 + 40; ++i)
        flipped[i] = char(flipped[i] ^ 0x5a);
    damaged.emplace_back("flipped", flipped);
    QByteArray sprayed = whole;
    for (qsizetype i = 20000; i < sprayed.size(); i += 997)
        sprayed[i] = char(sprayed[i] ^ 0x21);
    damaged.emplace_back("sprayed", sprayed);
    QByteArray gap = whole;
    gap.remove(whole.size() / 2, 3000);
    damaged.emplace_back("gap", gap);

    int handedOver = 0;
    for (size_t i = 0; i < damaged.size(); ++i) {
        const auto &[what, bytes] = damaged[i];
        SCOPED_TRACE(std::string(what) + std::to_string(i));
        const QString bad = dir.file(QStringLiteral("bad%1.flac").arg(i));
        test::writeFile(bad, bytes);
        std::optional<Native> native;
        try {
            native.emplace(bad);
        } catch (const AudioFileError &) {
            continue; // FFmpeg refuses it at once: the reader never gets as far
        }
        if (std::string_view(what) == "cut") {
            // Its last frame does not end on the header's count: only FFmpeg's decode counts it.
            EXPECT_FALSE(native->stream);
            continue;
        }
        if (!native->stream)
            continue; // FFmpeg keeps such a file to itself
        auto reference = ffmpegStream(native->file);
        const Outcome ours = outcome(*native->stream);
        EXPECT_TRUE(ours == outcome(*reference));
        EXPECT_EQ(native->stream->knownLength(), reference->knownLength());
        handedOver += native->handovers;
        // Again from the start: a read after the damage was found goes the same way.
        EXPECT_TRUE(outcome(*native->stream, 0) == outcome(*reference, 0));
    }
    EXPECT_GE(handedOver, 2);
}

TEST(FlacDecodedStream, SeeksAndReadingAheadDeliverTheFramesFfmpegDelivers)
{
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("long.flac"));
    constexpr int64_t frames = 1500007; // long enough for reading ahead to start
    makeFlac(path, frames, 2, 24);
    Native native(path);
    ASSERT_TRUE(native.stream);
    auto reference = ffmpegStream(native.file);
    const QByteArray whole = readRest<float>(*reference, SampleSink::Layout::floatInterleaved, 8192);
    ASSERT_EQ(whole.size(), frames * 2 * 4);
    EXPECT_TRUE(readRest<float>(*native.stream, SampleSink::Layout::floatInterleaved, 4096) == whole);
    native.stream->seek(0);
    reference->seek(0);
    EXPECT_TRUE(readRest<int32_t>(*native.stream, SampleSink::Layout::int32Interleaved, 8192)
                == readRest<int32_t>(*reference, SampleSink::Layout::int32Interleaved, 8192));

    // Backwards, forwards past a short skip, beside frame edges, the last frame, past the end,
    // and once while segments are being decoded ahead.
    std::vector<float> some(2 * 700000);
    SampleSink sink;
    sink.layout = SampleSink::Layout::floatInterleaved;
    sink.channels = 2;
    for (int64_t frame : {250000, 1, 4096, 4095, 70001, 0, 1500006, 1500007, 100, 2000000, 12, 0, 123457}) {
        SCOPED_TRACE(frame);
        native.stream->seek(frame);
        EXPECT_EQ(native.stream->position(), std::min(frame, frames));
        int64_t n = 0;
        for (int64_t got = 1; got > 0 && n < (frame == 0 ? 700000 : 5000); n += got) {
            sink.interleaved = some.data() + 2 * n;
            got = native.stream->read(sink, 5000);
        }
        EXPECT_EQ(n, std::min<int64_t>(frame == 0 ? 700000 : 5000, frames - std::min(frame, frames)));
        EXPECT_TRUE(test::bytesOf(some).left(n * 8) == whole.mid(frame * 8, n * 8));
    }
    EXPECT_TRUE(readRest<float>(*native.stream, SampleSink::Layout::floatInterleaved) == whole.mid(128457 * 8));
    EXPECT_EQ(native.handovers, 0);

    // Damage far into the file, where a worker meets it first.
    QByteArray bytes = test::readAll(path);
    for (qsizetype i = bytes.size() * 7 / 10; i < bytes.size() * 7 / 10 + 40; ++i)
        bytes[i] = char(bytes[i] ^ 0x5a);
    const QString bad = dir.file(QStringLiteral("bad.flac"));
    test::writeFile(bad, bytes);
    Native damaged(bad);
    ASSERT_TRUE(damaged.stream);
    EXPECT_TRUE(outcome(*damaged.stream) == outcome(*ffmpegStream(damaged.file)));
    EXPECT_EQ(damaged.handovers, 1);
}

// Damage in the frame where a segment read ahead begins: the worker fails there, and so does
// the reader's own seek to that frame; from there FFmpeg reads on.
TEST(FlacDecodedStream, DamageWhereASegmentReadAheadBeginsIsReadOnByFfmpeg)
{
    test::TempDir dir;
    const QString wav = dir.file(QStringLiteral("long.wav")), path = dir.file(QStringLiteral("long.flac"));
    makeFlac(wav, 1500000, 2, 16);
    test::runChecked("flac", {"-s", "-f", wav, "-o", path}); // frames of 4,096
    QByteArray bytes = test::readAll(path);
    const std::vector<qsizetype> starts = test::flacFrameStarts(bytes);
    ASSERT_GT(starts.size(), 97u);
    // Read in blocks of 8,192, reading ahead starts at frame 262,144 (when it starts at all), in
    // segments of 131,072: the second begins with frame 96.
    for (qsizetype i = starts[96] + 20; i < starts[96] + 60; ++i)
        bytes[i] = char(bytes[i] ^ 0x5a);
    test::writeFile(path, bytes);
    Native damaged(path);
    ASSERT_TRUE(damaged.stream);
    EXPECT_TRUE(readRest<float>(*damaged.stream, SampleSink::Layout::floatInterleaved, 8192)
                == readRest<float>(*ffmpegStream(damaged.file), SampleSink::Layout::floatInterleaved, 8192));
}

// Tags, padding or junk after the last frame leave the header's length proven: the file opens
// on libFLAC at once, without a decode to count it, and delivers what its clean twin delivers.
TEST(FlacDecodedStream, BytesAfterTheLastFrameLeaveTheLengthProven)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    makeFlac(clean, 100003, 2, 16);
    QByteArray junk(3000, '\0');
    for (qsizetype i = 0; i < junk.size(); ++i)
        junk[i] = char(i * 131 + (i >> 3));
    const std::vector<std::pair<const char *, QByteArray>> trailing = {
        {"ID3v1", test::id3v1Tag()},
        {"Lyrics3 and ID3v1", test::lyrics3Tag() + test::id3v1Tag()},
        {"APE", test::apeTag()},
        {"2 KB of zeros", QByteArray(2048, '\0')},
        {"junk", junk},
        {"sync words", QByteArray("\xFF\xF8\xC9\x18\x00\xC2", 6).repeated(300)},
    };
    const Outcome twin = outcome(*Native(clean).stream);
    for (size_t i = 0; i < trailing.size(); ++i) {
        SCOPED_TRACE(trailing[i].first);
        const QString path = dir.file(QStringLiteral("trailing%1.flac").arg(i));
        test::writeFile(path, test::readAll(clean) + trailing[i].second);
        Native native(path);
        ASSERT_TRUE(native.stream); // libFLAC takes only a file whose length is proven
        EXPECT_TRUE(outcome(*native.stream) == twin);
        EXPECT_TRUE(outcome(*native.stream, 95000) == outcome(*Native(clean).stream, 95000));
        EXPECT_EQ(native.handovers, 0);
        // The reader's own open, by the header, knows the length before any frame is decoded.
        const FileHandle file = FileHandle::openOutside(path);
        EXPECT_EQ(openDecodedStream(file, {}, false)->knownLength(), std::optional<int64_t>(100003));
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            AudioFileReader reader(path, {}, use);
            EXPECT_EQ(reader.length(), 100003);
            EXPECT_TRUE(test::bytesOf(test::readAllFloat(reader)) == std::get<QByteArray>(twin));
        }
    }

    // More than a frame cut from the end, or an earlier count, stays unproven under the same bytes.
    const QByteArray whole = test::readAll(clean);
    for (const QByteArray &cut : {whole.chopped(5) + test::id3v1Tag(), whole.chopped(5000) + QByteArray(2048, '\0')}) {
        const QString path = dir.file(QStringLiteral("cut.flac"));
        test::writeFile(path, cut);
        const FileHandle file = FileHandle::openOutside(path);
        EXPECT_EQ(flaclength::proven(file, 0, trailingtags::audioEnd(file, 0, file.size())), std::nullopt);
    }
}

// The length proof reads back from the end only as far as the last frame: a file is not read
// whole to learn its length, and a tag after the audio larger than a frame, or than the first
// look, is read past rather than left to a decode that counts the file.
TEST(FlacDecodedStream, TheLengthProofReadsBackOnlyToTheLastFrame)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 441000;
    makeFlac(clean, frames, 2, 16);
    const QByteArray whole = test::readAll(clean);
    for (const qsizetype tagBytes : {qsizetype(0), qsizetype(100) << 10, qsizetype(1) << 20}) {
        SCOPED_TRACE(tagBytes);
        QByteArray tag(tagBytes, '\0');
        for (qsizetype i = 0; i < tag.size(); ++i)
            tag[i] = char(i * 131 + (i >> 3));
        const QString path = dir.file(QStringLiteral("tagged.flac"));
        test::writeFile(path, whole + tag);
        const FileHandle file = FileHandle::openOutside(path);
        const qint64 before = test::bytesReadSoFar();
        EXPECT_EQ(flaclength::proven(file, 0, trailingtags::audioEnd(file, 0, file.size())), std::optional<int64_t>(frames));
        const qint64 read = test::bytesReadSoFar() - before;
        // The tag is read once, a piece at a time, as far as the last frame.
        EXPECT_LT(read, 2 * tagBytes + (64 << 10)) << whole.size();
        EXPECT_EQ(openDecodedStream(file, {}, false)->knownLength(), std::optional<int64_t>(frames));
        EXPECT_EQ(AudioFileReader(path).length(), frames);
    }
    // An APE tag that states its size (here with a 1 MB picture) is passed over unread.
    const auto u32 = [](uint32_t v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const QByteArray item = u32(1 << 20) + u32(2) + QByteArray("Cover Art (Front)", 18) + QByteArray(1 << 20, '\xFF');
    const auto apeFrame = [&](uint32_t flags) {
        return "APETAGEX" + u32(2000) + u32(uint32_t(item.size() + 32)) + u32(1) + u32(flags) + QByteArray(8, '\0');
    };
    const QString path = dir.file(QStringLiteral("ape.flac"));
    test::writeFile(path, whole + apeFrame(0xA0000000u) + item + apeFrame(0x80000000u));
    const FileHandle file = FileHandle::openOutside(path);
    const qint64 before = test::bytesReadSoFar();
    EXPECT_EQ(flaclength::proven(file, 0, trailingtags::audioEnd(file, 0, file.size())), std::optional<int64_t>(frames));
    EXPECT_LT(test::bytesReadSoFar() - before, 64 << 10);
}

// An ID3v2 tag before the stream whose header states a few bytes more or fewer than it holds:
// the stream is found where its marker is, as the file with a right size plays.
TEST(FlacDecodedStream, AnId3v2SizeAFewBytesOffFindsTheStream)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 50000;
    makeFlac(clean, frames, 2, 16);
    AudioFileReader cleanReader(clean);
    const std::vector<float> reference = test::readAllFloat(cleanReader);
    const QByteArray title = QByteArray("TIT2") + QByteArray("\0\0\0\x09\0\0", 6) + QByteArray("\x03Take one");
    const QByteArray body = title + QByteArray(100 - title.size(), '\0');
    for (const int off : {0, 1, 2, 9, -1, -3}) {
        SCOPED_TRACE(off);
        const int size = int(body.size()) + off;
        QByteArray tag("ID3\x04\x00\x00", 6);
        for (int i = 0; i < 4; ++i)
            tag.append(char((size >> (21 - 7 * i)) & 0x7F));
        const QString path = dir.file(QStringLiteral("off%1.flac").arg(off));
        test::writeFile(path, tag + body + test::readAll(clean));
        try {
            AudioFileReader reader(path);
            EXPECT_EQ(reader.length(), frames);
            EXPECT_TRUE(test::readAllFloat(reader) == reference);
            reader.seek(30000);
            const std::vector<float> rest = test::readAllFloat(reader);
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), reference.begin() + 30000 * 2, reference.end()));
        } catch (const AudioFileError &error) {
            ADD_FAILURE() << error.message().toStdString();
        }
    }
}

// Frames after the stream that go back in its numbering (a second file joined on, a stray copy
// of a frame after the last): the format's own decoder stops there with an error and others
// disagree on the length, so the file is refused at open, for every use, with a sentence. A file
// cut short, or with frames missing, is no such file.
TEST(FlacDecodedStream, FramesOutOfOrderAfterTheStreamAreRefused)
{
    test::TempDir dir;
    const QString first = dir.file(QStringLiteral("first.flac")), second = dir.file(QStringLiteral("second.flac"));
    makeFlac(first, 132300, 2, 16);
    makeFlac(second, 44100, 2, 16);
    const QByteArray whole = test::readAll(first);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GE(starts.size(), 7u);
    const qsizetype five = starts[5], six = starts[6];
    const std::vector<std::pair<const char *, QByteArray>> files = {
        {"joined", whole + test::readAll(second)},
        {"joined after a tag", whole + test::id3v1Tag() + test::readAll(second)},
        {"stray frame", whole + whole.mid(five, six - five)},
    };
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("out-of-order.flac"));
        test::writeFile(path, bytes);
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            try {
                AudioFileReader reader(path, {}, use);
                ADD_FAILURE() << "opened, length " << reader.length();
            } catch (const AudioFileError &error) {
                EXPECT_EQ(error.message(), QStringLiteral("Opening the audio file failed: frames of the stream follow it out of order"));
            }
        }
    }
    // Cut inside a frame, or with frames missing: opened, at what decodes.
    for (const QByteArray &damaged : {whole.chopped(3000), whole.left(five) + whole.mid(six)}) {
        const QString path = dir.file(QStringLiteral("damaged.flac"));
        test::writeFile(path, damaged);
        EXPECT_NO_THROW(AudioFileReader(path).length());
    }
}

// Whole frames missing in the middle, or just before the last frame, are silence in their place,
// as `flac -d -F` decodes them:
// the length stated, read, reached by seeks and exported is the header's, and a seek past the
// gap finds what a read from the start delivers there.
TEST(FlacDecodedStream, FramesMissingInTheMiddleAreSilenceInTheirPlace)
{
    test::TempDir dir;
    const QString intact = dir.file(QStringLiteral("intact.flac"));
    constexpr int64_t frames = 132300;
    makeFlac(intact, frames, 2, 16);
    const QByteArray whole = test::readAll(intact);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_EQ(starts.size(), 29u); // 28 of 4,608 and a shorter last one

    // The whole file's audio, left-justified as the reader's integers are.
    const auto decoded = [&](const QString &file, bool force) {
        QStringList arguments{"-s", "-d", "-c", "--force-raw-format", "--endian=little", "--sign=signed", file};
        if (force)
            arguments.prepend("-F");
        return test::runChecked("flac", arguments);
    };
    const QByteArray raw = decoded(intact, false);
    const int width = int(raw.size() / (frames * 2));
    ASSERT_EQ(raw.size(), frames * 2 * width);

    // Four frames taken out whole in the middle; one just before the last frame, a shorter one.
    for (const auto &[first, after] : {std::pair<size_t, size_t>{10, 14}, std::pair<size_t, size_t>{27, 28}}) {
        SCOPED_TRACE(first);
        const QString path = dir.file(QStringLiteral("gap%1.flac").arg(first));
        test::writeFile(path, whole.left(starts[first]) + whole.mid(starts[after]));
        const int64_t gapStart = int64_t(first) * 4608, gapEnd = int64_t(after) * 4608;
        // The missing frames silent; as long as flac -d -F makes it.
        ASSERT_EQ(decoded(path, true).size(), raw.size());
        std::vector<int32_t> oracle(size_t(frames * 2));
        for (size_t i = 0; i < oracle.size(); ++i) {
            uint32_t v = 0;
            for (int b = 0; b < width; ++b)
                v |= uint32_t(uint8_t(raw[qsizetype(i) * width + b])) << (32 - 8 * width + 8 * b);
            oracle[i] = i >= size_t(gapStart * 2) && i < size_t(gapEnd * 2) ? 0 : int32_t(v);
        }
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            SCOPED_TRACE(use == AudioFileReader::Use::glance ? "glance" : "reading");
            AudioFileReader reader(path, {}, use);
            EXPECT_EQ(reader.length(), frames);
            const auto readToEnd = [&reader](int64_t frames) {
                std::vector<int32_t> all, block(size_t(frames * 2));
                while (const int64_t n = reader.readInt32Interleaved(block.data(), frames))
                    all.insert(all.end(), block.begin(), block.begin() + n * 2);
                return all;
            };
            const std::vector<int32_t> all = readToEnd(1 << 16); // blocks that span the gap and more
            ASSERT_EQ(int64_t(all.size()), frames * 2);
            EXPECT_TRUE(all == oracle);
            EXPECT_TRUE(std::all_of(all.begin() + gapStart * 2, all.begin() + gapEnd * 2, [](int32_t v) { return v == 0; }));
            // Seeks before, into and past the gap, and near the end: each then reads on to the end.
            for (const int64_t at : {int64_t(1000), gapStart + 100, gapEnd - 1, gapEnd + 1000, int64_t(120000), frames - 3}) {
                SCOPED_TRACE(at);
                reader.seek(at);
                const std::vector<int32_t> rest = readToEnd(8192);
                ASSERT_EQ(int64_t(rest.size()), (frames - at) * 2);
                EXPECT_TRUE(std::equal(rest.begin(), rest.end(), oracle.begin() + at * 2));
            }
        }
    }
}

// Ogg FLAC with pages missing in the middle keeps its timeline: the frames they held are silence
// in their place and every other frame is where it was, in the length stated (the one
// `flac -d -F` decodes), the read and every seek.
TEST(FlacDecodedStream, OggFlacPagesMissingAreSilenceInTheirPlace)
{
    test::TempDir dir;
    const QString native = dir.file(QStringLiteral("native.flac")), ogg = dir.file(QStringLiteral("whole.oga"));
    constexpr int64_t frames = 220500;
    makeFlac(native, frames, 2, 16);
    test::runChecked("flac", {"-s", "-f", "--ogg", native, "-o", ogg});
    const QByteArray whole = test::readAll(ogg);
    std::vector<qsizetype> pages;
    for (qsizetype at = 0; (at = whole.indexOf("OggS", at)) >= 0; ++at)
        pages.push_back(at);
    ASSERT_GE(pages.size(), 12u);
    // Pages 6 and 7 taken out: the samples after page 5's granule up to page 7's.
    const auto granule = [&](size_t page) {
        int64_t g = 0;
        for (int b = 7; b >= 0; --b)
            g = g << 8 | uint8_t(whole[pages[page] + 6 + b]);
        return g;
    };
    const int64_t gapStart = granule(5), gapEnd = granule(7);
    ASSERT_GT(gapEnd, gapStart);
    const QString path = dir.file(QStringLiteral("gap.oga"));
    test::writeFile(path, whole.left(pages[6]) + whole.mid(pages[8]));
    const auto decoded = [](const QString &file, bool force) {
        QStringList arguments{"-s", "-d", "--ogg", "-c", "--force-raw-format", "--endian=little", "--sign=signed", file};
        if (force)
            arguments.prepend("-F");
        return test::runChecked("flac", arguments);
    };
    const QByteArray raw = decoded(ogg, false);
    const int width = int(raw.size() / (frames * 2));
    ASSERT_EQ(raw.size(), frames * 2 * width);
    ASSERT_EQ(decoded(path, true).size(), raw.size());
    std::vector<int32_t> oracle(size_t(frames * 2));
    for (size_t i = 0; i < oracle.size(); ++i) {
        uint32_t v = 0;
        for (int b = 0; b < width; ++b)
            v |= uint32_t(uint8_t(raw[qsizetype(i) * width + b])) << (32 - 8 * width + 8 * b);
        oracle[i] = i >= size_t(gapStart * 2) && i < size_t(gapEnd * 2) ? 0 : int32_t(v);
    }
    AudioFileReader reader(path);
    EXPECT_EQ(reader.length(), frames);
    const auto readToEnd = [&reader] {
        std::vector<int32_t> all, block(8192 * 2);
        while (const int64_t n = reader.readInt32Interleaved(block.data(), 8192))
            all.insert(all.end(), block.begin(), block.begin() + n * 2);
        return all;
    };
    const std::vector<int32_t> all = readToEnd();
    ASSERT_EQ(int64_t(all.size()), frames * 2);
    EXPECT_TRUE(all == oracle);
    for (const int64_t at : {int64_t(30000), gapStart + 100, gapEnd + 1000, int64_t(150000), frames - 3}) {
        SCOPED_TRACE(at);
        reader.seek(at);
        const std::vector<int32_t> rest = readToEnd();
        ASSERT_EQ(int64_t(rest.size()), (frames - at) * 2);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), oracle.begin() + at * 2));
    }
}

// A file whose end does not prove its length is proven once: the decode that counts it meets
// every frame, and a second reader of the unchanged file takes its count and its order, however
// large a frame the header states. Together both cost about the file.
TEST(FlacDecodedStream, AnUnprovenLengthIsCountedOncePerUnchangedFile)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 44100 * 120;
    makeFlac(clean, frames, 2, 16);
    const QByteArray whole = test::readAll(clean);
    QByteArray stated = whole;
    stated[15] = stated[16] = stated[17] = '\xFF'; // the largest frame STREAMINFO states
    for (const auto &[name, bytes] : {std::pair{"stated as found", whole}, std::pair{"stated as 16 MB", stated}}) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("cut.flac"));
        test::writeFile(path, bytes.chopped(20000));
        test::waitUntilSettled(path);
        const qint64 before = test::bytesReadSoFar();
        std::vector<int64_t> lengths;
        for (int open = 0; open < 2; ++open)
            lengths.push_back(AudioFileReader(path).length());
        const qint64 read = test::bytesReadSoFar() - before;
        EXPECT_LE(read, (bytes.size() - 20000) * 13 / 10) << read;
        EXPECT_EQ(lengths[0], lengths[1]);
        // What ffmpeg decodes, stated and read.
        const QByteArray decoded = test::runProgram("ffmpeg", {"-v", "quiet", "-i", path, "-f", "f32le", "-"}).output;
        EXPECT_EQ(lengths[0] * 8, decoded.size());
        AudioFileReader reader(path);
        EXPECT_TRUE(test::bytesOf(test::readAllFloat(reader)) == decoded);
    }
}

// Two files of the same length joined on end where the first should: frames at a few places
// through the stream go back in their numbering, so the join is refused as every other.
TEST(FlacDecodedStream, AFileOfTheSameLengthJoinedOnIsRefused)
{
    test::TempDir dir;
    const QString first = dir.file(QStringLiteral("first.flac")), second = dir.file(QStringLiteral("second.flac"));
    makeFlac(first, 132300, 2, 16);
    makeFlac(second, 132300, 1, 16);
    const QByteArray a = test::readAll(first), b = test::readAll(second);
    for (const auto &[name, bytes] : {std::pair{"joined", a + b}, std::pair{"joined after a tag", a + test::id3v1Tag() + b},
                                      std::pair{"the same file twice", a + a}}) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("joined.flac"));
        test::writeFile(path, bytes);
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            try {
                AudioFileReader reader(path, {}, use);
                ADD_FAILURE() << "opened, length " << reader.length();
            } catch (const AudioFileError &error) {
                EXPECT_EQ(error.message(), QStringLiteral("Opening the audio file failed: frames of the stream follow it out of order"));
            }
        }
    }
}

// A seek in a file with a large tag after its audio reads near its target: libFLAC bisects the
// frames only, never the tag.
TEST(FlacDecodedStream, ASeekReadsNearItsTargetWhateverFollowsTheAudio)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 44100 * 5;
    makeFlac(clean, frames, 2, 16);
    AudioFileReader cleanReader(clean);
    const std::vector<float> reference = test::readAllFloat(cleanReader);
    QByteArray junk(1 << 20, '\0');
    for (qsizetype i = 0; i < junk.size(); ++i)
        junk[i] = char(i * 131 + (i >> 3));
    const auto u32 = [](uint32_t v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const QByteArray item = u32(uint32_t(junk.size())) + u32(2) + QByteArray("Cover Art (Front)", 18) + junk;
    const auto apeFrame = [&](uint32_t flags) {
        return "APETAGEX" + u32(2000) + u32(uint32_t(item.size() + 32)) + u32(1) + u32(flags) + QByteArray(8, '\0');
    };
    for (const auto &[name, after] : {std::pair{"APE tag", apeFrame(0xA0000000u) + item + apeFrame(0x80000000u)},
                                      std::pair{"junk", junk}}) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("tagged.flac"));
        test::writeFile(path, test::readAll(clean) + after);
        for (const int64_t at : {frames / 2, frames * 999 / 1000, int64_t(1000)}) {
            AudioFileReader reader(path);
            ASSERT_EQ(reader.length(), frames);
            const qint64 before = test::bytesReadSoFar();
            reader.seek(at);
            std::vector<float> block(4096 * 2);
            const int64_t n = reader.readFloatInterleaved(block.data(), 4096);
            EXPECT_LE(test::bytesReadSoFar() - before, 2 << 20) << at;
            ASSERT_EQ(n, std::min<int64_t>(4096, frames - at));
            EXPECT_TRUE(std::equal(block.begin(), block.begin() + n * 2, reference.begin() + at * 2));
        }
    }
}

// The footer flag belongs to version 2.4: a version 2.3 tag that sets it has no footer, and the
// stream begins where its size says (as ffmpeg reads it); a 2.4 tag's footer is passed over.
TEST(FlacDecodedStream, AnId3v2FooterFlagCountsOnlyInVersionFour)
{
    test::TempDir dir;
    const QString wav = dir.file(QStringLiteral("clean.wav")), clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 132300;
    makeFlac(wav, frames, 2, 16);
    test::runChecked("flac", {"-s", "-f", wav, "-o", clean});
    AudioFileReader cleanReader(clean);
    const std::vector<float> reference = test::readAllFloat(cleanReader);
    const QByteArray title = QByteArray("TIT2") + QByteArray("\0\0\0\x09\0\0", 6) + QByteArray("\x03Take one");
    const QByteArray body = title + QByteArray(1000 - title.size(), '\0');
    const QByteArray size("\0\0\x07\x68", 4);
    for (const auto &[name, tag] : {std::pair{"2.3 flagged", QByteArray("ID3\x03\x00\x10", 6) + size + body},
                                    std::pair{"2.4 with its footer", QByteArray("ID3\x04\x00\x10", 6) + size + body
                                                                         + QByteArray("3DI\x04\x00\x10", 6) + size}}) {
        SCOPED_TRACE(name);
        const QString path = dir.file(QStringLiteral("tagged.flac"));
        test::writeFile(path, tag + test::readAll(clean));
        AudioFileReader reader(path);
        EXPECT_EQ(reader.length(), frames);
        EXPECT_TRUE(test::readAllFloat(reader) == reference);
        for (const int64_t at : {int64_t(30000), int64_t(100000), frames - 10}) {
            reader.seek(at);
            const std::vector<float> rest = test::readAllFloat(reader);
            ASSERT_EQ(int64_t(rest.size()), (frames - at) * 2);
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), reference.begin() + at * 2)) << at;
        }
        const QByteArray ffmpeg = test::runProgram("ffmpeg", {"-v", "quiet", "-i", path, "-f", "f32le", "-"}).output;
        EXPECT_TRUE(ffmpeg == test::bytesOf(reference));
    }
}

// Ogg FLAC without its first page of audio: stated and read as flac decodes it, the frames from
// the first page there on, and a seek finds what that read delivers.
TEST(FlacDecodedStream, OggFlacWithoutItsFirstAudioPageReadsAsFlacDoes)
{
    test::TempDir dir;
    const QString wav = dir.file(QStringLiteral("clean.wav")), ogg = dir.file(QStringLiteral("whole.oga"));
    makeFlac(wav, 132300, 2, 16);
    test::runChecked("flac", {"-s", "-f", "--ogg", wav, "-o", ogg});
    const QByteArray whole = test::readAll(ogg);
    std::vector<qsizetype> pages;
    for (qsizetype at = 0; (at = whole.indexOf("OggS", at)) >= 0; ++at)
        pages.push_back(at);
    // The first page whose granule is past 0 holds the first audio.
    size_t first = 0;
    while (first + 1 < pages.size() && whole.mid(pages[first] + 6, 8) == QByteArray(8, '\0'))
        ++first;
    ASSERT_LT(first + 1, pages.size());
    const QString path = dir.file(QStringLiteral("late.oga"));
    test::writeFile(path, whole.left(pages[first]) + whole.mid(pages[first + 1]));
    const QByteArray raw = test::runProgram("flac", {"-s", "-d", "--ogg", "-c", "--force-raw-format", "--endian=little",
                                                     "--sign=signed", path}).output;
    ASSERT_GT(raw.size(), 0);
    std::vector<int32_t> oracle(size_t(raw.size() / 2));
    for (size_t i = 0; i < oracle.size(); ++i)
        oracle[i] = int32_t(uint32_t(uint16_t(uint8_t(raw[qsizetype(2 * i)]) | uint8_t(raw[qsizetype(2 * i + 1)]) << 8)) << 16);
    AudioFileReader reader(path);
    EXPECT_EQ(reader.length() * 2, int64_t(oracle.size()));
    const auto readToEnd = [&reader] {
        std::vector<int32_t> all, block(8192 * 2);
        while (const int64_t n = reader.readInt32Interleaved(block.data(), 8192))
            all.insert(all.end(), block.begin(), block.begin() + n * 2);
        return all;
    };
    EXPECT_TRUE(readToEnd() == oracle);
    const int64_t at = int64_t(oracle.size()) / 4;
    reader.seek(at);
    const std::vector<int32_t> rest = readToEnd();
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), oracle.begin() + at * 2, oracle.end()));
}

// The proof's own checks: a header whose checksum fails is no frame even where the frame's
// checksum was made to hold over it; more chance headers after the audio than the proof tries
// leave the length to the decode; a frame that goes back counts only whole.
TEST(FlacDecodedStream, TheLengthProofTrustsOnlyFramesWhoseChecksumsHold)
{
    test::TempDir dir;
    const QString clean = dir.file(QStringLiteral("clean.flac"));
    constexpr int64_t frames = 100003;
    makeFlac(clean, frames, 2, 16);
    const QByteArray whole = test::readAll(clean);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GE(starts.size(), 3u);
    const auto provenOf = [&](const QByteArray &bytes) {
        const QString path = dir.file(QStringLiteral("proof.flac"));
        test::writeFile(path, bytes);
        const FileHandle file = FileHandle::openOutside(path);
        return flaclength::proven(file, 0, trailingtags::audioEnd(file, 0, file.size()));
    };
    ASSERT_EQ(provenOf(whole), std::optional<int64_t>(frames));

    // The last frame's header checksum broken, its frame checksum made to hold again.
    QByteArray broken = whole;
    const auto *last = reinterpret_cast<const uint8_t *>(whole.constData() + starts.back());
    int headerBytes = 5;
    while (crc8(last, headerBytes) != last[headerBytes])
        ++headerBytes;
    broken[starts.back() + headerBytes] = char(last[headerBytes] ^ 0x5A);
    const uint16_t crc = crc16(reinterpret_cast<const uint8_t *>(broken.constData()) + starts.back(),
                               broken.size() - 2 - starts.back());
    broken[broken.size() - 2] = char(crc >> 8);
    broken[broken.size() - 1] = char(crc & 0xFF);
    EXPECT_EQ(provenOf(broken), std::nullopt);
    EXPECT_EQ(flaclength::frameStart({reinterpret_cast<const uint8_t *>(broken.constData()) + starts.back(), 16},
                                     {reinterpret_cast<const uint8_t *>(whole.constData()), 42}),
              std::nullopt);

    // Headers that hold by chance after the audio, each to be decoded: up to the number tried.
    const QByteArray chance("\xFF\xF8\xC9\x18\x00\xC2", 6);
    EXPECT_EQ(provenOf(whole + chance.repeated(1000)), std::optional<int64_t>(frames));
    EXPECT_EQ(provenOf(whole + chance.repeated(1100)), std::nullopt);

    // A pass's frames: a damaged copy of an earlier frame is no frame; a whole one goes back.
    const auto frame = [&](size_t i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : whole.size();
        return whole.mid(starts[i], end - starts[i]);
    };
    const auto span = [](const QByteArray &bytes) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    };
    flaclength::FrameOrder order(span(whole.left(42)));
    for (size_t i = 0; i < 3; ++i)
        order.note(span(frame(i)));
    QByteArray damaged = frame(1);
    damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 1);
    order.note(span(damaged));
    EXPECT_FALSE(order.outOfOrder());
    order.note(span(frame(1)));
    EXPECT_TRUE(order.outOfOrder());
}

// A stream trimmed at its start without being encoded again (as `ffmpeg -ss 5 -c copy` trims)
// keeps STREAMINFO's count and its frames' numbers. It is stated, read and reached by seeks at the
// frames it holds, as ffmpeg decodes it, whether its end proves the count or a decode counts it;
// libFLAC reads it by its frames' numbers, reading ahead too, without handing over.
TEST(FlacDecodedStream, AStreamTrimmedAtItsStartIsStatedAtWhatItHolds)
{
    test::TempDir dir;
    const QString intact = dir.file(QStringLiteral("intact.flac"));
    constexpr int64_t frames = 1000000; // long enough for reading ahead to start
    makeFlac(intact, frames, 2, 16);
    const QByteArray whole = test::readAll(intact);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GT(starts.size(), 10u);
    constexpr int64_t held = frames - 10 * 4608; // ten frames of 4,608 dropped
    const QString trimmed = dir.file(QStringLiteral("trimmed.flac")), cut = dir.file(QStringLiteral("cut.flac"));
    test::writeFile(trimmed, whole.left(starts[0]) + whole.mid(starts[10]));
    test::writeFile(cut, whole.left(starts[0]) + whole.mid(starts[10]).chopped(3000));
    // As the command line trims, its other blocks (a seek table) left out.
    const QString copied = dir.file(QStringLiteral("copied.flac"));
    test::runChecked("ffmpeg", {"-v", "error", "-ss", "5", "-i", intact, "-c", "copy", copied});

    for (const QString &path : {trimmed, cut, copied}) {
        SCOPED_TRACE(path.toStdString());
        // Left-justified, as the reader's integers are.
        const QByteArray raw = test::runCheckedBytes("ffmpeg", {"-v", "error", "-i", path, "-f", "s32le", "-"});
        std::vector<int32_t> oracle(size_t(raw.size() / 4));
        std::memcpy(oracle.data(), raw.constData(), oracle.size() * 4);
        const int64_t length = int64_t(oracle.size()) / 2;
        if (path == trimmed) {
            ASSERT_EQ(length, held);
        }
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            SCOPED_TRACE(use == AudioFileReader::Use::glance ? "glance" : "reading");
            AudioFileReader reader(path, {}, use);
            EXPECT_EQ(reader.length(), length);
            const auto readOn = [&reader](int64_t most) {
                std::vector<int32_t> all, block(8192 * 2);
                for (int64_t n = 1; n > 0 && int64_t(all.size()) < most * 2;) {
                    n = reader.readInt32Interleaved(block.data(), 8192);
                    all.insert(all.end(), block.begin(), block.begin() + n * 2);
                }
                return all;
            };
            EXPECT_TRUE(readOn(frames) == oracle);
            // Seeks within the first frame and across its end, backwards, far on and near the end.
            for (const int64_t at : {int64_t(1), int64_t(4607), int64_t(4610), length / 2, int64_t(3000), length - 3}) {
                SCOPED_TRACE(at);
                reader.seek(at);
                const std::vector<int32_t> some = readOn(5000);
                ASSERT_EQ(int64_t(some.size()), std::min<int64_t>(8192, length - at) * 2);
                EXPECT_TRUE(std::equal(some.begin(), some.end(), oracle.begin() + at * 2));
            }
        }
    }

    const FileHandle file = FileHandle::openOutside(trimmed);
    const int64_t firstSample = flaclength::prove(file, 0, file.size()).firstSample;
    ASSERT_EQ(firstSample, 10 * 4608);
    Native native(trimmed, firstSample);
    ASSERT_TRUE(native.stream);
    const QByteArray all = readRest<int32_t>(*native.stream, SampleSink::Layout::int32Interleaved, 8192);
    EXPECT_EQ(all.size(), held * 2 * 4);
    native.stream->seek(held / 3);
    const QByteArray rest = readRest<int32_t>(*native.stream, SampleSink::Layout::int32Interleaved, 8192);
    EXPECT_TRUE(rest == all.mid(held / 3 * 8));
    EXPECT_EQ(native.handovers, 0);
}

// The length proof's search of a file's end leaves glibc mapping large blocks apart from the heap
// as before: were the free of its room to raise the size from which glibc maps blocks, every
// later block below it would come from the heap, which keeps what it once held, and a batch of
// exports would end far larger than it began. In a fresh process, as the first proof there.
TEST(FlacDecodedStream, TheLengthProofLeavesWhereTheHeapMapsBlocksAsItWas)
{
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    test::TempDir dir;
    const QString path = dir.file(QStringLiteral("minute.flac"));
    makeFlac(path, 44100 * 60, 2, 16); // several MB, which the search's room spans
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Through pointers the compiler cannot see through, so the pair is not left out.
            static void *(*volatile allocate)(size_t) = std::malloc;
            static void (*volatile release)(void *) = std::free;
            const auto mapped = [](size_t bytes) {
                const size_t before = mallinfo2().hblks;
                void *block = allocate(bytes);
                const bool apart = mallinfo2().hblks > before;
                release(block);
                return apart;
            };
            if (!mapped(size_t(512) << 10))
                std::exit(2); // the process mapped blocks this large before the proof
            const FileHandle file = FileHandle::openOutside(path);
            if (!flaclength::prove(file, 0, file.size()).total)
                std::exit(3);
            std::exit(mapped(size_t(2) << 20) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
#else
    GTEST_SKIP() << "glibc's own allocator only, which a sanitizer replaces";
#endif
}

namespace {

// A FLAC file read to its end as floats, or the error it ends in, as the reader opened for use
// delivers it.
Outcome readerOutcome(const QString &path, AudioFileReader::Use use)
{
    try {
        AudioFileReader reader(path, {}, use);
        const int64_t stated = reader.length();
        const QByteArray all = test::bytesOf(test::readAllFloat(reader));
        if (all.size() != stated * reader.channels() * qsizetype(sizeof(float)))
            return QStringLiteral("stated %1, read %2").arg(stated).arg(all.size());
        return all;
    } catch (const AudioFileError &error) {
        return error.message();
    }
}

// Each file is delivered whole (what ffmpeg decodes, stated, read and glanced at) or refused with
// the sentence; refusedAtOpen: where the open must already refuse it.
void expectWholeOrRefused(const QString &path, bool refusedAtOpen)
{
    const QByteArray decoded = test::runCheckedBytes("ffmpeg", {"-v", "quiet", "-i", path, "-f", "f32le", "-"});
    for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
        SCOPED_TRACE(use == AudioFileReader::Use::glance ? "glance" : "reading");
        const Outcome got = readerOutcome(path, use);
        if (const auto *error = std::get_if<QString>(&got)) {
            EXPECT_TRUE(error->endsWith(QStringLiteral(" failed: frames of the stream follow it out of order"))) << error->toStdString();
            if (refusedAtOpen) {
                EXPECT_TRUE(error->startsWith(QStringLiteral("Opening the audio file"))) << error->toStdString();
            }
        } else {
            EXPECT_FALSE(refusedAtOpen);
            EXPECT_TRUE(std::get<QByteArray>(got) == decoded) << std::get<QByteArray>(got).size() << " of " << decoded.size();
        }
    }
}

} // namespace

// Pieces cut from one stream without encoding again and joined (a frame repeated at the join, a
// later piece placed first, a later frame placed before the whole), and a frame copied into the
// middle: none is stated at what its first frame's number and the header's count suggest and then
// read short. A read that meets a frame numbered before the one due refuses the file, also where
// segments read ahead meet at it; an open refuses those it sees go back.
TEST(FlacDecodedStream, AJoinedFileIsDeliveredWholeOrRefusedNeverCutShort)
{
    test::TempDir dir;
    const QString source = dir.file(QStringLiteral("source.flac"));
    makeFlac(source, 44100 * 8, 2, 16);
    const auto cut = [&](const QString &name, const QStringList &range) {
        const QString path = dir.file(name);
        test::runChecked("ffmpeg", QStringList{"-v", "error"} + range + QStringList{"-i", source, "-c", "copy", path});
        return path;
    };
    const auto join = [&](const QString &name, const QStringList &pieces) {
        QFile list(dir.file(QStringLiteral("list.txt")));
        EXPECT_TRUE(list.open(QIODevice::WriteOnly));
        for (const QString &piece : pieces)
            list.write(QStringLiteral("file '%1'\n").arg(piece).toUtf8());
        list.close();
        const QString path = dir.file(name);
        test::runChecked("ffmpeg", {"-v", "error", "-f", "concat", "-safe", "0", "-i", list.fileName(), "-c", "copy", path});
        return path;
    };
    const std::vector<std::tuple<const char *, QString, bool>> files = {
        {"repeated at the join", join("j1.flac", {cut("a.flac", {"-ss", "3", "-to", "5"}), cut("b.flac", {"-ss", "5"})}), false},
        {"repeated at another join", join("j2.flac", {cut("c.flac", {"-ss", "2", "-to", "4"}), cut("d.flac", {"-ss", "4"})}), false},
        {"a later piece first", join("j3.flac", {cut("e.flac", {"-ss", "6", "-to", "7"}), cut("f.flac", {"-ss", "1"})}), true},
        {"a later frame first", join("j4.flac", {cut("g.flac", {"-ss", "7.5", "-to", "7.51"}), source}), true},
    };
    for (const auto &[name, path, refusedAtOpen] : files) {
        SCOPED_TRACE(name);
        expectWholeOrRefused(path, refusedAtOpen);
    }

    // A frame copied on after itself anywhere in a stream long enough to be read ahead in
    // segments: wherever the segments meet, the read refuses it.
    const QString longer = dir.file(QStringLiteral("longer.flac"));
    makeFlac(longer, 1000000, 2, 16);
    const QByteArray whole = test::readAll(longer);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GT(starts.size(), 127u);
    for (size_t frame = 90; frame < 127; ++frame) {
        SCOPED_TRACE(frame);
        const QString path = dir.file(QStringLiteral("repeated.flac"));
        const QByteArray copy = whole.mid(starts[frame], starts[frame + 1] - starts[frame]);
        test::writeFile(path, whole.left(starts[frame + 1]) + copy + whole.mid(starts[frame + 1]));
        AudioFileReader reader(path);
        try {
            test::readAllFloat(reader);
            ADD_FAILURE() << "read whole, length " << reader.length();
        } catch (const AudioFileError &error) {
            EXPECT_EQ(error.message(), QStringLiteral("Decoding audio failed: frames of the stream follow it out of order"));
        }
    }
}

// Trimmed down to its last frame, a stream holds that frame alone; and each proof gives back the
// room its search of the end mapped.
TEST(FlacDecodedStream, TheLengthProofStatesALastFrameAloneAndGivesBackItsRoom)
{
    test::TempDir dir;
    const QString source = dir.file(QStringLiteral("source.flac")), last = dir.file(QStringLiteral("last.flac"));
    makeFlac(source, 882000, 2, 16); // frames of 4,608, the last of 1,872
    const QByteArray whole = test::readAll(source);
    qsizetype lastFrame = whole.size();
    while ((lastFrame = whole.lastIndexOf("\xFF\xF8", lastFrame - 1)) > 0 && whole.mid(lastFrame + 4, 2) != "\xC2\xBF") {
    } // numbered 191
    ASSERT_GT(lastFrame, 0);
    test::writeFile(last, whole.left(test::flacFrameStarts(whole).front()) + whole.mid(lastFrame));
    const QByteArray decoded = test::runCheckedBytes("ffmpeg", {"-v", "quiet", "-i", last, "-f", "f32le", "-"});
    ASSERT_EQ(decoded.size(), 1872 * 8);
    const Outcome got = readerOutcome(last, AudioFileReader::Use::reading);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(got)) << std::get<QString>(got).toStdString();
    EXPECT_TRUE(std::get<QByteArray>(got) == decoded);
    EXPECT_EQ(AudioFileReader(last, {}, AudioFileReader::Use::glance).length(), 1872);

    const auto mapped = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return qint64(-1);
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmSize:");
        return at < 0 ? qint64(-1) : text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().split(' ').first().toLongLong();
    };
    const FileHandle file = FileHandle::openOutside(source); // MBs, which the search's room spans
    ASSERT_TRUE(flaclength::prove(file, 0, file.size()).total);
    const qint64 before = mapped();
    ASSERT_GT(before, 0);
    for (int proof = 0; proof < 100; ++proof)
        flaclength::prove(file, 0, file.size());
    EXPECT_LT(mapped() - before, 32 << 10) << "kB";
}

namespace {

// From frame at on, as much as a fresh reader of path delivers there (or count frames of it), or
// the error it ends in.
Outcome readerFrom(AudioFileReader &reader, int64_t at, qint64 count = std::numeric_limits<qint64>::max())
{
    try {
        reader.seek(at);
        std::vector<float> all, block(size_t(4096 * reader.channels()));
        for (qint64 done = 0, n; done < count && (n = reader.readFloatInterleaved(block.data(), std::min<qint64>(4096, count - done)));) {
            all.insert(all.end(), block.begin(), block.begin() + n * reader.channels());
            done += n;
        }
        return test::bytesOf(all);
    } catch (const AudioFileError &error) {
        return error.message();
    }
}

// Seeks a fresh reader, then one reader on from wherever the last left it, to places through the
// file and back: each delivers there what the read from the start delivered.
void expectSeeksDeliverTheWholeRead(const QString &path, AudioFileReader::Use use)
{
    AudioFileReader whole(path, {}, use);
    const QByteArray all = test::bytesOf(test::readAllFloat(whole));
    const qint64 frameBytes = whole.channels() * qint64(sizeof(float)), frames = all.size() / frameBytes;
    ASSERT_EQ(frames, whole.length());
    AudioFileReader sought(path, {}, use);
    std::vector<int64_t> places;
    for (int64_t at = 1; at < frames; at += 19999)
        places.push_back(at);
    for (int64_t at = frames - 7; at > 0; at -= 33333)
        places.push_back(at);
    for (int64_t at = 40001; at > 0; at -= 2000) // back a frame or a few at a time
        places.push_back(at);
    for (const int64_t at : places) {
        SCOPED_TRACE(at);
        const Outcome expected = all.mid(at * frameBytes, 3000 * frameBytes);
        AudioFileReader fresh(path, {}, use);
        EXPECT_EQ(readerFrom(fresh, at, 3000), expected);
        EXPECT_EQ(readerFrom(sought, at, 3000), expected);
    }
}

// A STREAMINFO block's smallest and largest block sizes set as given, the frames unchanged.
QByteArray withBlockSizes(QByteArray flac, uint16_t smallest, uint16_t largest)
{
    const qsizetype at = flac.indexOf("fLaC") + 8;
    flac[at] = char(smallest >> 8);
    flac[at + 1] = char(smallest);
    flac[at + 2] = char(largest >> 8);
    flac[at + 3] = char(largest);
    return flac;
}

} // namespace

// A stream whose frames run in order is never refused for their order at a seek: not where the
// seek lands on damage and reads again from the first frame, nor where STREAMINFO states a larger
// largest block than its frames hold, so that their numbers would place them further on than they
// are; and every seek lands where the frames are.
TEST(FlacDecodedStream, ASeekIntoFramesThatRunInOrderDeliversWhatAReadFromTheStartDelivers)
{
    test::TempDir dir;
    const QString source = dir.file(QStringLiteral("source.flac")), wav = dir.file(QStringLiteral("source.wav"));
    makeFlac(source, 44100 * 8, 2, 16); // frames of 4,608
    makeFlac(wav, 44100 * 8, 2, 16);
    const QByteArray whole = test::readAll(source);
    QByteArray damaged = whole;
    for (int i = 0; i < 700; ++i)
        damaged[whole.size() / 2 + i] = char(i * 37 + 11);
    const QString overwritten = dir.file(QStringLiteral("overwritten.flac")), overstated = dir.file(QStringLiteral("overstated.flac"));
    test::writeFile(overwritten, damaged);
    test::runChecked("flac", {"-5", "-s", "-f", "-o", overstated, wav}); // frames of 4,096
    test::writeFile(overstated, withBlockSizes(test::readAll(overstated), 4096, 4608));
    for (const QString &path : {overwritten, overstated}) {
        for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
            SCOPED_TRACE((path + (use == AudioFileReader::Use::glance ? " glance" : " reading")).toStdString());
            expectSeeksDeliverTheWholeRead(path, use);
        }
    }
}

namespace {

// The frames of a FLAC file, from the first frame's header to the end.
std::vector<QByteArray> framesOf(const QByteArray &whole)
{
    std::vector<QByteArray> frames;
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    for (size_t i = 0; i < starts.size(); ++i)
        frames.push_back(whole.mid(starts[i], (i + 1 < starts.size() ? starts[i + 1] : whole.size()) - starts[i]));
    return frames;
}

// The frame as one numbered by its first sample: the header's number and both checksums made anew.
QByteArray numberedBySample(const QByteArray &frame, int64_t firstSample)
{
    const auto *h = reinterpret_cast<const uint8_t *>(frame.constData());
    const int numberBytes = h[4] >= 0x80 ? 2 : 1; // frame numbers below 2,048
    const int blockCode = h[2] >> 4, rateCode = h[2] & 15;
    const int after = (blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0) + (rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0);
    QByteArray header = frame.left(4);
    header[1] = char(0xF9);
    if (firstSample < 0x80) {
        header += char(firstSample);
    } else if (firstSample < 0x800) {
        header += char(0xC0 | firstSample >> 6);
        header += char(0x80 | (firstSample & 0x3F));
    } else if (firstSample < 0x10000) {
        header += char(0xE0 | firstSample >> 12);
        header += char(0x80 | (firstSample >> 6 & 0x3F));
        header += char(0x80 | (firstSample & 0x3F));
    } else {
        header += char(0xF0 | firstSample >> 18);
        header += char(0x80 | (firstSample >> 12 & 0x3F));
        header += char(0x80 | (firstSample >> 6 & 0x3F));
        header += char(0x80 | (firstSample & 0x3F));
    }
    header += frame.mid(4 + numberBytes, after);
    header += char(crc8(reinterpret_cast<const uint8_t *>(header.constData()), header.size()));
    QByteArray numbered = header + frame.mid(4 + numberBytes + after + 1).chopped(2);
    const uint16_t crc = crc16(reinterpret_cast<const uint8_t *>(numbered.constData()), numbered.size());
    return numbered + char(crc >> 8) + char(crc & 0xFF);
}

} // namespace

// Where STREAMINFO's smallest block size is below its largest, frames of one block size are still
// numbered by their frame numbers, and the stream is delivered whole, as the format's own decoder
// delivers it; a stream whose frames are numbered by their samples, of two block sizes, is read
// by libFLAC and delivered whole too.
TEST(FlacDecodedStream, StreamInfoBlockSizesThatDifferLeaveEveryFrameInItsPlace)
{
    test::TempDir dir;
    const QString source = dir.file(QStringLiteral("source.flac"));
    makeFlac(source, 44100 * 8, 2, 16); // frames of 4,608
    const QByteArray whole = test::readAll(source);
    const QString sixteen = dir.file(QStringLiteral("sixteen.flac")), half = dir.file(QStringLiteral("half.flac"));
    test::writeFile(sixteen, withBlockSizes(whole, 16, 4608));
    test::writeFile(half, withBlockSizes(whole, 2304, 4608));

    // Two pieces encoded with blocks of 4,096 and 1,152, their frames numbered by their samples.
    const QString wav = dir.file(QStringLiteral("source.wav"));
    makeFlac(wav, 44100 * 4, 2, 16);
    QByteArray variable;
    int64_t sample = 0;
    for (const auto &[blocksize, from, to] : {std::tuple(4096, 0, 4096 * 20), std::tuple(1152, 4096 * 20, 44100 * 4)}) {
        const QString piece = dir.file(QStringLiteral("piece%1.flac").arg(blocksize));
        test::runChecked("flac", {"-s", "-f", "--no-padding", QStringLiteral("--blocksize=%1").arg(blocksize),
                                  QStringLiteral("--skip=%1").arg(from), QStringLiteral("--until=%1").arg(to), "-o", piece, wav});
        const QByteArray encoded = test::readAll(piece);
        if (variable.isEmpty())
            variable = encoded.left(test::flacFrameStarts(encoded).front());
        for (const QByteArray &frame : framesOf(encoded)) {
            variable += numberedBySample(frame, sample);
            sample = std::min<int64_t>(sample + blocksize, to);
        }
    }
    variable = withBlockSizes(variable, 1152, 4096);
    const qsizetype info = variable.indexOf("fLaC") + 8;
    variable[info + 13] = char(variable[info + 13] & 0xF0); // the count of both pieces' samples
    for (int i = 0; i < 4; ++i)
        variable[info + 14 + i] = char(sample >> (24 - 8 * i));
    for (int i = 0; i < 16; ++i)
        variable[info + 18 + i] = 0; // no MD5: the sum was of the first piece alone
    const QString variablePath = dir.file(QStringLiteral("variable.flac"));
    test::writeFile(variablePath, variable);
    test::runChecked("flac", {"-t", "-s", variablePath});
    Native native(variablePath);
    ASSERT_NE(native.stream, nullptr);
    EXPECT_EQ(std::get<QByteArray>(outcome(*native.stream, 60000)), test::ffmpegDecode(variablePath).mid(60000 * 8));
    EXPECT_EQ(native.handovers, 0);

    for (const QString &path : {sixteen, half, variablePath}) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray decoded = test::ffmpegDecode(path);
        EXPECT_EQ(readerOutcome(path, AudioFileReader::Use::reading), Outcome(decoded));
        EXPECT_EQ(readerOutcome(path, AudioFileReader::Use::glance), Outcome(decoded));
        expectSeeksDeliverTheWholeRead(path, AudioFileReader::Use::reading);
    }
}

// Once a read has refused a frame numbered before the one due, a seek delivers what a fresh
// reader delivers there: the frames before the repeat from the start, the rest from past it.
TEST(FlacDecodedStream, AfterARefusalASeekDeliversWhatAFreshReaderDelivers)
{
    test::TempDir dir;
    const QString source = dir.file(QStringLiteral("source.flac")), path = dir.file(QStringLiteral("repeated.flac"));
    makeFlac(source, 44100 * 8, 2, 16);
    const QByteArray whole = test::readAll(source);
    const std::vector<qsizetype> starts = test::flacFrameStarts(whole);
    ASSERT_GT(starts.size(), 40u);
    test::writeFile(path, whole.left(starts[30]) + whole.mid(starts[29], starts[30] - starts[29]) + whole.mid(starts[30]));
    for (const auto use : {AudioFileReader::Use::reading, AudioFileReader::Use::glance}) {
        SCOPED_TRACE(use == AudioFileReader::Use::glance ? "glance" : "reading");
        AudioFileReader reader(path, {}, use);
        const Outcome refused = readerFrom(reader, 0);
        ASSERT_TRUE(std::holds_alternative<QString>(refused));
        EXPECT_EQ(std::get<QString>(refused), QStringLiteral("Decoding audio failed: frames of the stream follow it out of order"));
        for (const int64_t at : {int64_t(4608 * 33 + 5), int64_t(0), int64_t(1), int64_t(4608 * 20), int64_t(4608 * 60), int64_t(100)}) {
            SCOPED_TRACE(at);
            AudioFileReader fresh(path, {}, use);
            const qint64 count = at < 4608 * 30 ? 4608 * 30 - at : std::numeric_limits<qint64>::max();
            const Outcome expected = readerFrom(fresh, at, count);
            EXPECT_TRUE(std::holds_alternative<QByteArray>(expected));
            EXPECT_EQ(readerFrom(reader, at, count), expected);
        }
    }
}
