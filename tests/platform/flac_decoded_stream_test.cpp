#include "platform_fixtures.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include "core/file_handle.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/decode/internal/ffmpeg_decoded_stream.h"
#include "platform/decode/internal/ffmpeg_probe.h"
#include "platform/decode/internal/flac_decoded_stream.h"

#include <gtest/gtest.h>

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
                          "-c:a", "flac"};
    if (bits == 24)
        arguments << "-sample_fmt" << "s32";
    test::runChecked(QStringLiteral("ffmpeg"), arguments << path);
}

std::unique_ptr<DecodedStream> ffmpegStream(const FileHandle &file)
{
    return openFfmpegStream(file, ffmpeg::probeInputFormat(file), {});
}

// libFLAC's stream of a file, counting how often it hands over to FFmpeg.
struct Native {
    explicit Native(const QString &path) : file(FileHandle::openOutside(path))
    {
        const auto described = ffmpegStream(file);
        stream = openFlacStream(file, described->format(), described->knownLength().value_or(0),
                                [this](CancellationToken) {
                                    ++handovers;
                                    return ffmpegStream(file);
                                },
                                {});
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
