#include "playback_fixtures.h"

#include "platform/encode/audio_file_writer.h"

#include <cmath>
#include <numbers>

namespace tampod::test {

void writeFloatWav(const QString &path, int channels, int rate, const std::vector<float> &interleaved)
{
    AudioWriteFormat format;
    format.sampleRate = rate;
    format.channels = channels;
    format.bitsPerChannel = 32;
    format.isFloat = true;
    AudioFileWriter writer(path, format);
    writer.writeInterleaved(interleaved.data(), static_cast<std::int64_t>(interleaved.size()) / channels);
    writer.finish();
}

std::vector<float> ramp(int frames)
{
    std::vector<float> samples(frames);
    for (int i = 0; i < frames; ++i)
        samples[i] = static_cast<float>(i + 1) / static_cast<float>(frames + 1);
    return samples;
}

std::vector<float> constant(int frames, int channels, float value)
{
    return std::vector<float>(static_cast<size_t>(frames) * channels, value);
}

std::vector<float> sine(int frames, int channels, int rate, double frequency, double amplitude)
{
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate));
        for (int c = 0; c < channels; ++c)
            samples[static_cast<size_t>(i) * channels + c] = v;
    }
    return samples;
}

ListeningOutput::ListeningOutput() : output_(std::make_shared<NullAudioOutput>())
{
    output_->setMonitor([this](const float *interleaved, int frames, int channels) {
        std::lock_guard lock(mutex_);
        heard_.insert(heard_.end(), interleaved, interleaved + static_cast<size_t>(frames) * channels);
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
    return static_cast<std::int64_t>(heard_.size() / 2);
}

void ListeningOutput::clear()
{
    std::lock_guard lock(mutex_);
    heard_.clear();
}

} // namespace tampod::test
