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
#include <cstdint>
#include <functional>
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

// A WAV of the given interleaved frames: 32-bit float (keeps NaN and infinities) or 16-bit.
inline void writeWav(const QString &path, int channels, const std::vector<float> &frames, int rate = 44100,
                     int bits = 32)
{
    AudioWriteFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerChannel = bits;
    format.isFloat = bits == 32;
    AudioFileWriter writer(path, format);
    writer.writeInterleaved(frames.data(), std::int64_t(frames.size()) / channels);
    writer.finish();
}

// frames × channels samples of a distinct, audible signal: sample value depends on frame and
// channel, so a shifted or swapped copy never compares equal.
inline std::vector<float> signal(std::int64_t frames, int channels)
{
    std::vector<float> samples(std::size_t(frames * channels));
    for (std::int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            samples[std::size_t(f * channels + c)] = float(0.5 * std::sin(double(f) * (0.01 + 0.003 * c)));
    return samples;
}

// A stereo tone of the given length encoded by the ffmpeg command line (extra: codec options).
inline void makeTone(const QString &path, double seconds, const QStringList &extra)
{
    QStringList arguments{"-v", "error", "-y", "-f", "lavfi", "-i",
                          QStringLiteral("aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=%1")
                              .arg(seconds)};
    arguments << extra << path;
    runChecked(QStringLiteral("ffmpeg"), arguments);
}

// count interleaved frames of a file from frame start, as the reader decodes them.
inline std::vector<float> readFrames(const QString &path, std::int64_t start, std::int64_t count)
{
    AudioFileReader reader(path);
    reader.seek(start);
    std::vector<float> samples(std::size_t(count * reader.channels()));
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t n = reader.readFloatInterleaved(samples.data() + done * reader.channels(), count - done);
        if (n == 0)
            break;
        done += n;
    }
    samples.resize(std::size_t(done * reader.channels()));
    return samples;
}

// Points the process-wide temporary store at a folder of this test run (made once, before the
// store is first built) and returns its jobs folder.
inline QString testJobsFolder()
{
    static QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/tampod-cache-XXXXXX"));
    static const bool redirected = qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    (void)redirected;
    return TemporaryAudioStore::shared().session().toLocalFile() + QStringLiteral("/")
           + QLatin1String(TemporaryAudioStore::jobsName);
}

inline QStringList jobFolders()
{
    return QDir(testJobsFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

} // namespace tampod::test
