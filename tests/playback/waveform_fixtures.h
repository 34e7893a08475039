#pragma once

// Audio files and records for the waveform and section tests (playback and player), made in
// temporary folders with our writer or the ffmpeg command line.

#include "files/store/temporary_audio_store.h"
#include "library/audio_track.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/audio_file_writer.h"
#include "support/run_program.h"

#include <QDir>
#include <QTemporaryDir>

#include <cmath>
#include <vector>

namespace tampod::test {

inline AudioTrack trackOf(const QString &path, double duration = 0)
{
    AudioTrack track;
    track.id = QUuid::createUuid();
    track._url = TrackedFileURL(QUrl::fromLocalFile(path));
    track.duration = duration;
    return track;
}

// A WAV of interleaved frames: 32-bit float (keeps NaN and infinities) or 16-bit.
inline void writeWav(const QString &path, int channels, const std::vector<float> &frames, int bits = 32)
{
    AudioFileWriter writer(path, {AudioFileType::wav, 44100, channels, bits, bits == 32, 0});
    writer.writeInterleaved(frames.data(), std::int64_t(frames.size()) / channels);
    writer.finish();
}

// A signal whose samples depend on frame and channel, so a shifted or swapped copy differs.
inline std::vector<float> signal(std::int64_t frames, int channels)
{
    std::vector<float> samples(std::size_t(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(0.5 * std::sin(double(i / channels) * (0.01 + 0.003 * double(i % channels))));
    return samples;
}

// A stereo tone encoded by the ffmpeg command line with the given codec options.
inline void makeTone(const QString &path, double seconds, const QStringList &codec)
{
    const QString tone = QStringLiteral("aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=%1");
    runChecked("ffmpeg", QStringList{"-v", "error", "-f", "lavfi", "-i", tone.arg(seconds)} << codec << path);
}

// Up to count interleaved frames from frame start, as the reader decodes them.
inline std::vector<float> readFrames(const QString &path, std::int64_t start, std::int64_t count)
{
    AudioFileReader reader(path);
    reader.seek(start);
    std::vector<float> samples(std::size_t(count * reader.channels()));
    std::int64_t done = 0;
    while (const std::int64_t n = reader.readFloatInterleaved(samples.data() + done * reader.channels(), count - done))
        done += n;
    samples.resize(std::size_t(done * reader.channels()));
    return samples;
}

// The job folders of the process-wide store, which is pointed (once, before it is built) at a
// folder of this test run.
inline QStringList jobFolders()
{
    static QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/tampod-cache-XXXXXX"));
    static const bool redirected = qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    (void)redirected;
    const QString jobs = TemporaryAudioStore::shared().session().toLocalFile() + QStringLiteral("/jobs");
    return QDir(jobs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace tampod::test
