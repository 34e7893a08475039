#include "platform_fixtures.h"

#include "core/file_handle.h"
#include "platform/decode/internal/length_cache.h"
#include "platform/encode/audio_file_writer.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <numbers>
#include <stdexcept>

namespace tampod::test {

void makeTone(const QString &path, qint64 frames, const QStringList &extra, int rate, int channels)
{
    const QString expression = channels == 1 ? QStringLiteral("0.5*sin(2*PI*440*t)")
                                             : QStringLiteral("0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t)");
    runChecked(QStringLiteral("ffmpeg"),
               QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                           QStringLiteral("aevalsrc=%1:s=%2,atrim=end_sample=%3").arg(expression).arg(rate).arg(frames)}
                   + extra + QStringList{path});
}

std::vector<float> readAllFloat(AudioFileReader &reader, qint64 block)
{
    std::vector<float> all;
    std::vector<float> buffer(size_t(block * reader.channels()));
    while (const qint64 n = reader.readFloatInterleaved(buffer.data(), block))
        all.insert(all.end(), buffer.begin(), buffer.begin() + n * reader.channels());
    return all;
}

QByteArray ffmpegDecode(const QString &path, const char *format)
{
    // A damaged file ends the decode with an error code: what was decoded still stands. A decode
    // that was cut off by a signal, or never ran, is no oracle.
    const QStringList arguments{"-v", "error", "-i", path, "-f", format, "-"};
    const ProgramRun run = runProgram(QStringLiteral("ffmpeg"), arguments);
    if (!run.exited) {
        ADD_FAILURE() << run.described(QStringLiteral("ffmpeg"), arguments);
        throw std::runtime_error("the ffmpeg decode did not run to its end (reported above)");
    }
    return run.output;
}

void writeFloatWav(const QString &path, int channels, int rate, const std::vector<float> &interleaved)
{
    AudioWriteFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerChannel = 32;
    format.isFloat = true;
    AudioFileWriter writer(path, format);
    writer.writeInterleaved(interleaved.data(), std::int64_t(interleaved.size()) / channels);
    writer.finish();
}

std::vector<float> ramp(int frames)
{
    std::vector<float> samples(frames);
    for (int i = 0; i < frames; ++i)
        samples[i] = float(i + 1) / float(frames + 1);
    return samples;
}

std::vector<float> constant(int frames, int channels, float value)
{
    return std::vector<float>(size_t(frames) * channels, value);
}

std::vector<float> sine(int frames, int channels, int rate, double frequency, double amplitude)
{
    std::vector<float> samples(size_t(frames) * channels);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i / channels) / rate));
    return samples;
}

ListeningOutput::ListeningOutput() : output_(std::make_shared<NullAudioOutput>())
{
    output_->setMonitor([this](const float *interleaved, int frames, int channels) {
        std::lock_guard lock(mutex_);
        heard_.insert(heard_.end(), interleaved, interleaved + size_t(frames) * channels);
    });
    AudioOutput::setShared(output_);
}

ListeningOutput::~ListeningOutput()
{
    output_->setMonitor({});
    AudioOutput::setShared(nullptr);
}

std::vector<float> ListeningOutput::heard()
{
    std::lock_guard lock(mutex_);
    return heard_;
}

std::vector<float> ListeningOutput::heardLeft()
{
    std::lock_guard lock(mutex_);
    std::vector<float> left(heard_.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = heard_[2 * i];
    return left;
}

std::int64_t ListeningOutput::heardFrames()
{
    std::lock_guard lock(mutex_);
    return std::int64_t(heard_.size() / 2);
}

void ListeningOutput::clear()
{
    std::lock_guard lock(mutex_);
    heard_.clear();
}

PullingOutput::PullingOutput() : AudioOutput(2) {}

PullingOutput::~PullingOutput() = default;

std::shared_ptr<PullingOutput> PullingOutput::installed()
{
    auto output = std::make_shared<PullingOutput>();
    AudioOutput::setShared(output);
    return output;
}

QString PullingOutput::deviceName() const
{
    return QStringLiteral("Pulled by the test");
}

double PullingOutput::supportedRate(double preferredRate)
{
    return preferredRate;
}

bool PullingOutput::pullBlock(std::vector<float> &interleaved, int frames)
{
    std::vector<float> block(size_t(frames) * channels());
    const auto limit = std::chrono::steady_clock::now() + hangGuard;
    while (!renderWhenReady(block.data(), frames)) {
        if (std::chrono::steady_clock::now() > limit) {
            ADD_FAILURE() << "a source was not ready to play within " << hangGuard.count() << " s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    interleaved.insert(interleaved.end(), block.begin(), block.end());
    return true;
}

std::vector<float> PullingOutput::leftOf(const std::vector<float> &interleaved) const
{
    std::vector<float> left(interleaved.size() / size_t(channels()));
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = interleaved[i * size_t(channels())];
    return left;
}

std::vector<float> PullingOutput::pull(std::int64_t frames)
{
    return leftOf(pullStereo(frames));
}

std::vector<float> PullingOutput::pullStereo(std::int64_t frames)
{
    std::vector<float> interleaved;
    for (std::int64_t done = 0; done < frames;) {
        const int n = int(std::min<std::int64_t>(frames - done, 512));
        if (!pullBlock(interleaved, n))
            break;
        done += n;
    }
    return interleaved;
}

std::vector<float> PullingOutput::pullUntil(const std::function<bool()> &done)
{
    std::vector<float> interleaved;
    const auto limit = std::chrono::steady_clock::now() + hangGuard;
    while (!done()) {
        if (!pullBlock(interleaved, 512))
            break;
        if (std::chrono::steady_clock::now() > limit) {
            ADD_FAILURE() << "not done within " << hangGuard.count() << " s";
            break;
        }
        // Past the end blocks are silent at once; a pause keeps them few while done() comes.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return leftOf(interleaved);
}

qint64 bytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    return -1;
}

void waitUntilSettled(const QString &path)
{
    const FileHandle file = FileHandle::openOutside(path);
    while (!LengthCache::shared().identityOf(file))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Where each frame of a FLAC file begins, found by its header's sync code, checksum and frame
// number (fixed block sizes, frame numbers below 128).
std::vector<qsizetype> flacFrameStarts(const QByteArray &whole)
{
    std::vector<qsizetype> starts;
    for (qsizetype at = whole.indexOf("fLaC") + 42; (at = whole.indexOf("\xFF\xF8", at)) >= 0; ++at) {
        const auto *h = reinterpret_cast<const uint8_t *>(whole.constData() + at);
        // The frame number, then a block size or rate coded at the end of the header.
        const int blockCode = h[2] >> 4, rateCode = h[2] & 15;
        const int size = 5 + (h[4] >= 0x80 ? 1 : 0) + (blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0)
                         + (rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0);
        if (whole.size() - at <= size)
            break;
        uint8_t crc = 0;
        for (int i = 0; i < size; ++i) {
            crc ^= h[i];
            for (int bit = 0; bit < 8; ++bit)
                crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
        }
        if (crc == h[size] && h[4] == starts.size()) // the frame number, the next one's
            starts.push_back(at);
    }
    return starts;
}

} // namespace tampod::test
