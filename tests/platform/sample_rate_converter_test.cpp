#include "platform/audio_file_error.h"
#include "platform/decode/sample_rate_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tampod;

namespace {

double tone(double i, int rate)
{
    return 0.5 * std::sin(2 * M_PI * 1000 * i / rate);
}

// Converts a stereo sine (the right channel inverted) in blocks of block frames.
std::vector<float> convertSine(int inRate, int outRate, int64_t frames, int64_t block)
{
    SampleRateConverter converter(2, inRate, outRate);
    std::vector<float> input;
    for (int64_t i = 0; i < frames; ++i)
        input.insert(input.end(), {float(tone(double(i), inRate)), -float(tone(double(i), inRate))});
    std::vector<float> output;
    std::vector<float> chunk(2 * 4096);
    auto drain = [&] {
        while (const int64_t n = converter.take(chunk.data(), 4096))
            output.insert(output.end(), chunk.begin(), chunk.begin() + 2 * n);
    };
    for (int64_t at = 0; at < frames; at += block) {
        converter.push(input.data() + 2 * at, std::min(block, frames - at));
        drain();
    }
    converter.finish();
    drain();
    return output;
}

} // namespace

TEST(SampleRateConverter, OutputHasTheRoundedLengthAndTheSameSignalWhateverTheBlocks)
{
    for (const auto &[in, out, frames] : {std::tuple{44100, 48000, 44100}, {48000, 44100, 1}, {44100, 48000, 1023},
                                          {96000, 44100, 100001}, {8000, 192000, 777}, {44100, 22050, 3}}) {
        for (int64_t block : {1, 1000, 8192}) {
            if (block == 1 && frames > 2000)
                continue;
            const int64_t expected = std::llround(double(frames) * out / in);
            EXPECT_EQ(int64_t(convertSine(in, out, frames, block).size()), 2 * expected) << in << "→" << out;
        }
    }
    EXPECT_EQ(SampleRateConverter(1, 2, 3).outputFramesFor(1), 2); // 1.5 rounds away from zero
    for (const auto &[channels, in, out] : {std::tuple{0, 44100, 48000}, {2, 0, 48000}, {2, 44100, -1}})
        EXPECT_THROW(SampleRateConverter(channels, in, out), AudioFileError);

    const std::vector<float> whole = convertSine(44100, 48000, 20000, 20000);
    const std::vector<float> blocks = convertSine(44100, 48000, 20000, 333);
    ASSERT_EQ(whole.size(), blocks.size());
    for (size_t i = 0; i < whole.size(); ++i)
        ASSERT_NEAR(whole[i], blocks[i], 1e-6) << i;
    // The sine keeps its phase in the converted time base, and each channel stays its own.
    for (size_t i = 500; i + 500 < whole.size() / 2; i += 311) {
        EXPECT_NEAR(whole[2 * i], tone(double(i), 48000), 2e-3) << i;
        EXPECT_NEAR(whole[2 * i + 1], -tone(double(i), 48000), 2e-3) << i;
    }
}
