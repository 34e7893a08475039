#pragma once

#include "platform/decode/audio_file_reader.h"
#include "platform/output/null_audio_output.h"

#include "support/tagger_tags.h"

#include <QString>
#include <QStringList>

#include <functional>

#include <memory>
#include <mutex>
#include <vector>

namespace tampod::test {

// A file of frames frames made by the ffmpeg command line: a 440 Hz sine on the left, a
// quieter 660 Hz one on the right. extra: encoder and muxer options.
void makeTone(const QString &path, qint64 frames, const QStringList &extra, int rate = 44100,
              int channels = 2);
// All of a reader from its position as float interleaved, read in blocks of block frames.
std::vector<float> readAllFloat(AudioFileReader &reader, qint64 block = 8192);
// The ffmpeg command line's own decode of path, interleaved, in a raw sample format such as
// "f32le" or "s32le": the independent oracle for what a decode delivers.
QByteArray ffmpegDecode(const QString &path, const char *format = "f32le");
template <typename T>
QByteArray bytesOf(const std::vector<T> &samples)
{
    return QByteArray(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * sizeof(T)));
}

// Bytes this process has read from files so far, as the kernel counts them.
qint64 bytesReadSoFar();
// Returns once the readers' length cache trusts what it learns of the file at path: its change
// time is past its file system's step, as that of a file a user opens long after writing it.
void waitUntilSettled(const QString &path);

// Where each frame of a FLAC file begins, found by its header's sync code, checksum and frame
// number (fixed block sizes, frame numbers below 128).
std::vector<qsizetype> flacFrameStarts(const QByteArray &whole);
void writeFloatWav(const QString &path, int channels, int rate, const std::vector<float> &interleaved);
// One channel whose values count up, so that any sample tells which frame it came from.
std::vector<float> ramp(int frames);
std::vector<float> constant(int frames, int channels, float value);
std::vector<float> sine(int frames, int channels, int rate, double frequency, double amplitude);

// A null output installed as the shared one for a test's lifetime, keeping what it heard.
class ListeningOutput {
public:
    ListeningOutput();
    ~ListeningOutput();
    std::vector<float> heard(); // interleaved stereo
    std::vector<float> heardLeft();
    std::int64_t heardFrames();
    void clear();

private:
    std::shared_ptr<NullAudioOutput> output_;
    std::mutex mutex_;
    std::vector<float> heard_;
};

// An output with no clock of its own, for the players made after installed(): the test takes
// the mix when it asks, and each block waits until every playing source can fill
// it, so a decoder that falls behind on a busy machine delays what is heard but leaves no
// silence in it. What it hands out is exactly what a device would have played.
class PullingOutput final : public AudioOutput {
public:
    PullingOutput();
    ~PullingOutput() override;
    // A new one, made the shared output until the test's ListeningOutput goes (which sets none).
    static std::shared_ptr<PullingOutput> installed();
    QString deviceName() const override;

    // The left channel of the next frames frames of the mix; fails the test (and returns what
    // it has) when a source is not ready within the time limit.
    std::vector<float> pull(std::int64_t frames);
    // Both channels of the next frames frames, interleaved.
    std::vector<float> pullStereo(std::int64_t frames);
    // Pulls block by block until done() holds after a block; the left channel.
    std::vector<float> pullUntil(const std::function<bool()> &done);

protected:
    double supportedRate(double preferredRate) override;
    void startStream(double) override {}
    void stopStream() noexcept override {}

private:
    bool pullBlock(std::vector<float> &interleaved, int frames);
    std::vector<float> leftOf(const std::vector<float> &interleaved) const;
};

} // namespace tampod::test
