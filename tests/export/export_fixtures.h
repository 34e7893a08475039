#pragma once

// Scenes for the export engine's tests: a store of the test's own, sources made by our writer or
// by the ffmpeg command line, tracks, requests, and the independent programs that check outputs.
#include "export/engine/audio_file_exporter.h"
#include "files/journal/audio_export_error.h"
#include "library/sd2_pair_audio.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "support/file_fixtures.h"
#include "support/run_program.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace tampod::test {

inline std::vector<float> tone(std::int64_t frames, int channels, int rate = 44100, double amplitude = 0.5)
{
    std::vector<float> samples(size_t(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            samples[size_t(i * channels + c)] =
                float(amplitude * std::sin(2 * M_PI * (440.0 + 220.0 * c) * double(i) / rate));
    }
    return samples;
}

// A WAV (or other PCM file) of exactly these samples, written by our own writer.
inline void writeAudio(const QString &path, int channels, int rate, const std::vector<float> &samples, int bits = 16,
                       AudioFileType type = AudioFileType::wav)
{
    AudioWriteFormat format;
    format.type = type;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerChannel = bits;
    format.isFloat = type == AudioFileType::caf || (type == AudioFileType::wav && bits == 32);
    AudioFileWriter writer(path, format);
    writer.writeInterleaved(samples.data(), std::int64_t(samples.size()) / channels);
    writer.finish();
}

// The export error case a call ends with, -1 for none.
inline int failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AudioExportError &error) {
        return int(error.kind());
    }
    return -1;
}

inline std::int64_t framesOf(const QString &path)
{
    AudioFileReader reader(path);
    return reader.length();
}

inline std::vector<float> samplesOf(const QString &path)
{
    AudioFileReader reader(path);
    std::vector<float> all(size_t(reader.length() * reader.channels()));
    std::int64_t at = 0;
    while (const std::int64_t n = reader.readFloatInterleaved(all.data() + at * reader.channels(), 8192))
        at += n;
    all.resize(size_t(at * reader.channels()));
    return all;
}

// Frames of a file as the ffmpeg command line decodes it (edit lists applied).
inline std::int64_t ffmpegFrames(const QString &path, int channels)
{
    const QByteArray pcm = runCheckedBytes(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "f32le", "-"});
    return std::int64_t(pcm.size()) / (4 * channels);
}

// codec,rate,channels,length in frames as ffprobe reports the first audio stream (for MPEG-4,
// the length its edit list gives, which the ffmpeg command line's decode does not trim to).
inline QString ffprobeStream(const QString &path)
{
    return QString::fromUtf8(runChecked(QStringLiteral("ffprobe"),
                                        {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                         "stream=codec_name,sample_rate,channels,duration_ts", "-of", "csv=p=0", path}));
}

inline AudioTrack trackOf(const QString &path, std::optional<double> bpm = std::nullopt)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.bpm = bpm;
    return track;
}

inline ExportDefaults settingsFor(ExportFormat format, std::int64_t bits = 16, std::int64_t rate = 44100)
{
    ExportDefaults settings;
    settings.format = format;
    settings.bitDepth = bits;
    settings.sampleRate = rate;
    return settings;
}

// The loop of a section that spans the whole file (and so plays the track's own file), repeated.
inline LoopExportOptions wholeLoop(const AudioTrack &track, std::int64_t frames, double rate, std::int64_t repeats)
{
    return {std::make_shared<const PreparedSection>(track, track.audioURL(), 0, frames, frames, rate, std::nullopt),
            repeats};
}

// A loop of frames [start, end) of the track rendered to a float WAV of its own in a job folder
// of the store, as the section preparer leaves it, repeated.
inline LoopExportOptions sectionLoop(const TemporaryAudioStore &store, const AudioTrack &track, std::int64_t start,
                                     std::int64_t end, std::int64_t repeats)
{
    const QString source = track.audioURL().toLocalFile();
    AudioFileReader reader(source);
    const int channels = reader.channels();
    const std::vector<float> all = samplesOf(source);
    const QUrl folder = store.makeDirectory();
    const QString file = folder.toLocalFile() + QStringLiteral("/section.wav");
    writeAudio(file, channels, int(reader.fileSampleRate()),
               std::vector<float>(all.begin() + start * channels, all.begin() + end * channels), 32);
    return {std::make_shared<const PreparedSection>(track, QUrl::fromLocalFile(file), start, end,
                                                    std::int64_t(all.size()) / channels, reader.fileSampleRate(), folder),
            repeats};
}

inline constexpr std::int64_t linkedPairFrames = 3000;

// A playable mono SD2 channel file as the library holds it.
inline AudioTrack pairChannel(const QString &path)
{
    writeFile(path, "headerless samples");
    AudioTrack track = trackOf(path);
    track.sd2Format = SD2Metadata{2, 44100, 1, std::nullopt, std::nullopt};
    track.importedSD2Frames = linkedPairFrames;
    return track;
}

// take.L and take.R in folder, linked, playing from a stereo copy in a job folder of the store.
inline AudioTrack linkedPair(const TemporaryAudioStore &store, const QString &folder, std::vector<float> *samples = nullptr)
{
    const QString copy = store.makeDirectory().toLocalFile() + "/Stereo.wav";
    std::vector<float> stereo = tone(linkedPairFrames, 2);
    writeAudio(copy, 2, 44100, stereo);
    if (samples)
        *samples = stereo;
    AudioTrack track = trackOf(folder + "/take.L", 120.0);
    track.pair = std::make_shared<const SD2PairAudio>(
        pairChannel(folder + "/take.L"), pairChannel(folder + "/take.R"),
        std::make_shared<const SD2RecoveredCopy>(QUrl::fromLocalFile(copy), 44100, linkedPairFrames, "pair", 2, 2));
    return track;
}

// A folder of its own with a temporary-audio store in it; outputs go beside the sources.
class ExportScene {
public:
    ExportScene()
        : store_(std::make_shared<TemporaryAudioStore>(QUrl::fromLocalFile(dir_.file(QStringLiteral("store")))))
    {
        environment.store = [store = store_]() -> TemporaryAudioStore & { return *store; };
    }
    ~ExportScene() { expectNoStaging(); }

    QString file(const QString &name) const { return dir_.file(name); }
    const TemporaryAudioStore &store() const { return *store_; }

    // A source made by the ffmpeg command line from a lavfi graph.
    QString make(const QString &name, const QString &graph, const QStringList &options = {}) const
    {
        runChecked(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-f", "lavfi", "-i", graph} + options +
                                                 QStringList{"-y", file(name)});
        return file(name);
    }

    AudioExportRequest request(const AudioTrack &track, const ExportDefaults &settings, const QString &name) const
    {
        AudioExportRequest request;
        request.track = track;
        request.settings = settings;
        request.destination = QUrl::fromLocalFile(file(name));
        return request;
    }

    AudioExportResult run(const AudioExportRequest &request, std::vector<double> *progress = nullptr,
                          const CancellationToken &token = {}) const
    {
        return AudioFileExporter::run(
            request, [progress](double p) { if (progress) progress->push_back(p); }, token, environment);
    }

    // The export's error case, or -1 when it succeeded.
    int failure(const AudioExportRequest &request) const
    {
        return failureOf([&] { run(request); });
    }

    // Every staging folder is gone, and so is every record of one.
    void expectNoStaging() const
    {
        for (const QString &name : entriesOf(dir_.path()))
            EXPECT_FALSE(name.startsWith(QLatin1String(".tampod-staging-"))) << name.toStdString();
        EXPECT_EQ(entriesOf(store_->session().toLocalFile() + QStringLiteral("/exports")), QStringList{});
    }

    ExportEnvironment environment;

private:
    TempDir dir_;
    std::shared_ptr<TemporaryAudioStore> store_;
};

} // namespace tampod::test
