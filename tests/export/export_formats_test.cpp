// Every output format from every kind of source, whole file and looped, checked by the programs
// that read each format independently of us: exact frame counts, the stream each reports, and
// the tempo as mutagen reads it.
#include "export_fixtures.h"

#include "core/file_system_call.h"
#include "tags/flac_tempo_metadata.h"

#include <string>
#include <tuple>

using namespace tampod;
using namespace tampod::test;
using Case = AudioExportError::Case;

namespace {

// Per line: path, then mutagen's standard and precise tempo texts.
const char *mutagenTempo = R"(
import sys
for path in sys.argv[1:]:
    if path.endswith('.m4a'):
        from mutagen.mp4 import MP4
        tags = MP4(path).tags
        found = (tags['tmpo'][0], bytes(tags['----:org.tampod.tamPOD:BPM'][0]).decode())
    elif path.endswith('.flac'):
        from mutagen.flac import FLAC
        tags = FLAC(path)
        found = (tags['BPM'][0], tags['TAMPOD_BPM'][0])
    else:
        from mutagen.wave import WAVE
        from mutagen.aiff import AIFF
        tags = (WAVE(path) if path.endswith('.wav') else AIFF(path)).tags
        found = (tags['TBPM'].text[0], tags['TXXX:tamPOD_BPM'].text[0])
    print(path, found[0], found[1])
)";

struct Output {
    ExportFormat format;
    const char *extension;
    const char *codec; // as ffprobe names it
};

const Output outputs[] = {{ExportFormat::wav, "wav", "pcm_s16le"},
                          {ExportFormat::aiff, "aiff", "pcm_s16be"},
                          {ExportFormat::flac, "flac", "flac"},
                          {ExportFormat::m4aAAC, "m4a", "aac"}};

// The independent programs' view of one output of frames frames.
void expectReadableEverywhere(const QString &path, const Output &output, std::int64_t frames, int channels, int rate)
{
    SCOPED_TRACE(path.toStdString());
    EXPECT_EQ(ffprobeStream(path), QStringLiteral("%1,%2,%3,%4").arg(output.codec).arg(rate).arg(channels).arg(frames));
    if (output.format != ExportFormat::m4aAAC) {
        EXPECT_EQ(ffmpegFrames(path, channels), frames);
    }
    if (output.format == ExportFormat::flac) {
        runChecked(QStringLiteral("flac"), {"-t", "-s", path});
        EXPECT_EQ(runChecked(QStringLiteral("metaflac"), {"--show-total-samples", path}), QByteArray::number(frames));
    } else if (output.format != ExportFormat::m4aAAC) {
        const QByteArray info = runChecked(QStringLiteral("sndfile-info"), {path});
        EXPECT_TRUE(info.contains("Frames      : " + QByteArray::number(frames))) << info.toStdString();
        EXPECT_TRUE(info.contains("Sample Rate : " + QByteArray::number(rate)));
    }
}

} // namespace

TEST(ExportFormats, EverySourceToEveryFormatWholeAndLooped)
{
    ExportScene scene;
    const int rate = 44100;
    const QString sources[] = {
        [&] { writeAudio(scene.file("source.wav"), 2, rate, tone(30000, 2)); return scene.file("source.wav"); }(),
        scene.make("source.flac", "sine=f=330:r=44100:d=0.6", {"-ac", "2"}),
        scene.make("source.mp3", "sine=f=330:r=44100:d=0.6", {"-ac", "2", "-b:a", "128k"}),
        scene.make("source.m4a", "sine=f=330:r=44100:d=0.6", {"-ac", "2", "-c:a", "aac", "-b:a", "128k"}),
    };
    QStringList tagged;
    for (const QString &source : sources) {
        const std::int64_t frames = framesOf(source);
        const AudioTrack track = trackOf(source, 128.0);
        const QString stem = QFileInfo(source).suffix();
        for (const Output &output : outputs) {
            for (const int repeats : {0, 3}) {
                const QString name = QStringLiteral("%1-%2.%3").arg(stem).arg(repeats).arg(output.extension);
                AudioExportRequest request = scene.request(track, settingsFor(output.format), name);
                if (repeats > 0)
                    request.loop = sectionLoop(scene.store(), track, 100, frames - 200, repeats);
                const std::int64_t expected = repeats > 0 ? (frames - 300) * repeats : frames;
                const AudioExportResult result = scene.run(request);
                EXPECT_EQ(result.frames, expected) << name.toStdString();
                EXPECT_EQ(framesOf(scene.file(name)), expected) << name.toStdString();
                expectReadableEverywhere(scene.file(name), output, expected, 2, rate);
                // Lossless sources come out of lossless outputs sample for sample.
                if (repeats == 0 && output.format != ExportFormat::m4aAAC && (stem == "wav" || stem == "flac")) {
                    EXPECT_EQ(samplesOf(scene.file(name)), samplesOf(source)) << name.toStdString();
                }
                tagged << scene.file(name);
            }
        }
    }
    const QByteArray tempos = runChecked(systemPython, QStringList{"-c", mutagenTempo} + tagged);
    for (const QString &path : tagged) {
        const QByteArray precise = "128.0";
        const QByteArray standard = path.endsWith(".flac") ? "128.0" : "128";
        EXPECT_TRUE(tempos.contains(path.toUtf8() + " " + standard + " " + precise)) << tempos.toStdString();
    }
}

TEST(ExportFormats, StagedDataReachTheDiskBeforeTheirNameIsPublished)
{
    ExportScene scene;
    const QString source = scene.file("source.wav");
    writeAudio(source, 2, 44100, tone(4410, 2));
    static std::vector<std::string> calls; // the export runs on this thread
    for (const Output &output : outputs) {
        for (const std::optional<double> bpm : {std::optional<double>(), std::optional<double>(120.0)}) {
            const QString name = QStringLiteral("out-%1.%2").arg(bpm ? "tempo" : "plain", output.extension);
            calls.clear();
            FileSystemCall::setObserver([](const char *operation) { calls.emplace_back(operation); });
            scene.run(scene.request(trackOf(source, bpm), settingsFor(output.format), name));
            FileSystemCall::setObserver(nullptr);
            // The publishing rename is the last; the data written before it must be flushed
            // first, or a crash just after could leave the new name on a file without its audio.
            const auto rename = std::find(calls.rbegin(), calls.rend(), "rename");
            ASSERT_NE(rename, calls.rend()) << name.toStdString();
            const auto lastWrite = std::find(rename, calls.rend(), "write");
            ASSERT_NE(lastWrite, calls.rend()) << name.toStdString();
            EXPECT_NE(std::find(rename, lastWrite, "fsync"), lastWrite) << name.toStdString();
        }
    }
}

TEST(ExportFormats, M4ARoundTripKeepsEveryFrameCount)
{
    ExportScene scene;
    for (const std::int64_t frames : {1, 1023, 1024, 1025, 4608, 44100}) {
        const QString source = scene.file(QStringLiteral("in-%1.wav").arg(frames));
        writeAudio(source, 2, 44100, tone(frames, 2));
        const QString name = QStringLiteral("out-%1.m4a").arg(frames);
        EXPECT_EQ(scene.run(scene.request(trackOf(source), settingsFor(ExportFormat::m4aAAC), name)).frames, frames);
        EXPECT_EQ(framesOf(scene.file(name)), frames);
        EXPECT_EQ(ffprobeStream(scene.file(name)), QStringLiteral("aac,44100,2,%1").arg(frames));
    }
}

// Two Vorbis streams of one layout one after the other, as `cat a.ogg b.ogg` makes them: the
// export reads every link to its end, each as long as its last page says (the second has one page
// of audio, whose end the command line misreads; it also decodes the chain with one decoder
// throughout, which adds frames at the join).
TEST(ExportFormats, AChainedOggExportsItsWholeDecodedLength)
{
    ExportScene scene;
    QByteArray chained;
    for (const auto &[name, frequency, seconds] : {std::tuple{"a.ogg", 330, "1.3"}, std::tuple{"b.ogg", 550, "0.9"}})
        chained += readAll(scene.make(name, QStringLiteral("sine=f=%1:r=44100:d=%2").arg(frequency).arg(seconds),
                                      {"-ac", "2", "-c:a", "libvorbis"}));
    const QString source = scene.file("chained.ogg");
    writeFile(source, chained);
    const std::int64_t decoded = 57330 + 39690; // 1.3 s and 0.9 s
    EXPECT_EQ(framesOf(source), decoded);

    for (const Output &output : {outputs[0], outputs[2]}) {
        const QString name = QStringLiteral("chained.%1").arg(output.extension);
        const AudioExportResult result = scene.run(scene.request(trackOf(source), settingsFor(output.format), name));
        EXPECT_EQ(result.frames, decoded) << name.toStdString();
        expectReadableEverywhere(scene.file(name), output, decoded, 2, 44100);
    }
}

TEST(ExportFormats, RateAndChannelConversion)
{
    ExportScene scene;
    const QString source = scene.file("mono.wav");
    writeAudio(source, 1, 44100, tone(44100, 1));
    ExportDefaults settings = settingsFor(ExportFormat::wav, 24, 48000);
    settings.encodingByFormat["wav"] = EncodingOptions::initial(ExportFormat::wav);
    settings.encodingByFormat["wav"].channels = ExportChannels::stereo;
    const AudioTrack track = trackOf(source);
    // The whole file comes back exactly as written; a loop's three passes through one
    // converter within its rounding of the whole length.
    EXPECT_EQ(scene.run(scene.request(track, settings, "whole.wav")).frames, 48000);
    AudioExportRequest loop = scene.request(track, settings, "loop.wav");
    loop.loop = wholeLoop(track, 44100, 44100, 3);
    const AudioExportResult looped = scene.run(loop);
    EXPECT_LE(std::abs(looped.frames - 144000), 2);
    EXPECT_EQ(looped.channels, 2u);
    EXPECT_EQ(ffprobeStream(scene.file("whole.wav")), "pcm_s24le,48000,2,48000");
    // Stereo to mono averages the two sides.
    const QString stereo = scene.file("stereo.wav");
    writeAudio(stereo, 2, 44100, {0.5f, 0.25f, -0.5f, 0.0f});
    settings = settingsFor(ExportFormat::aiff, 16, 44100);
    settings.encodingByFormat["aiff"] = EncodingOptions::initial(ExportFormat::aiff);
    settings.encodingByFormat["aiff"].channels = ExportChannels::mono;
    scene.run(scene.request(trackOf(stereo), settings, "mono.aiff"));
    EXPECT_EQ(samplesOf(scene.file("mono.aiff")), (std::vector<float>{0.375f, -0.25f}));
}

TEST(ExportFormats, EightBitWavIsUnsignedAndFloatSourcesConvertSafely)
{
    ExportScene scene;
    // A float source with values no integer holds: NaN and infinities become silence, the
    // rest clamps, on the untreated path too.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const QString source = scene.file("float.wav");
    writeAudio(source, 1, 44100, {nan, inf, -inf, 2.0f, -2.0f, 0.5f}, 32);
    scene.run(scene.request(trackOf(source), settingsFor(ExportFormat::wav, 16), "16.wav"));
    EXPECT_EQ(samplesOf(scene.file("16.wav")),
              (std::vector<float>{0, 0, 0, 32767 / 32768.0f, -1, 0.5f}));
    scene.run(scene.request(trackOf(source), settingsFor(ExportFormat::wav, 8), "8.wav"));
    EXPECT_EQ(ffprobeStream(scene.file("8.wav")), "pcm_u8,44100,1,6");
    EXPECT_EQ(readAll(scene.file("8.wav")).mid(44, 6), QByteArray("\x80\x80\x80\xff\x00\xc0", 6));
}
