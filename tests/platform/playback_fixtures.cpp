#include "playback_fixtures.h"

#include "support/test_support.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace tampod::test {

void writeFloatWav(const QString &path, int channels, int rate, const std::vector<float> &interleaved,
                   std::int64_t statedFrames)
{
    const auto frames = static_cast<std::int64_t>(interleaved.size()) / channels;
    const auto stated = statedFrames < 0 ? frames : statedFrames;
    const auto dataBytes = static_cast<std::uint32_t>(stated * channels * 4);
    QByteArray bytes;
    auto le32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto le16 = [&](std::uint16_t v) {
        bytes.append(static_cast<char>(v & 0xff));
        bytes.append(static_cast<char>(v >> 8));
    };
    bytes.append("RIFF");
    le32(36 + dataBytes);
    bytes.append("WAVEfmt ");
    le32(16);
    le16(3); // IEEE float
    le16(static_cast<std::uint16_t>(channels));
    le32(static_cast<std::uint32_t>(rate));
    le32(static_cast<std::uint32_t>(rate * channels * 4));
    le16(static_cast<std::uint16_t>(channels * 4));
    le16(32);
    bytes.append("data");
    le32(dataBytes);
    for (float sample : interleaved) {
        std::uint32_t bits;
        std::memcpy(&bits, &sample, 4);
        le32(bits);
    }
    writeFile(path, bytes);
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
