#pragma once

#include "platform/output/null_audio_output.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tampod::test {

// Writes a 32-bit float WAV file.
void writeFloatWav(const QString &path, int channels, int rate, const std::vector<float> &interleaved);

// One channel of frames whose values count up (1, 2, 3, ... scaled), so that any sample
// tells which frame it came from.
std::vector<float> ramp(int frames);
std::vector<float> constant(int frames, int channels, float value);
std::vector<float> sine(int frames, int channels, int rate, double frequency, double amplitude);

// A null output installed as the shared one for a test's lifetime, keeping what it heard.
class ListeningOutput {
public:
    ListeningOutput();
    ~ListeningOutput();
    std::vector<float> heard();       // interleaved stereo
    std::vector<float> heardLeft();
    std::int64_t heardFrames();
    void clear();

private:
    std::shared_ptr<NullAudioOutput> output_;
    std::mutex mutex_;
    std::vector<float> heard_;
};

} // namespace tampod::test
