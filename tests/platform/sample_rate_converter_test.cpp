#include "platform/audio_file_error.h"
#include "platform/decode/sample_rate_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace tampod;

namespace {

// Converts frames of a sine in blocks of the given size and returns the whole output.
std::vector<float> convertSine(int inRate, int outRate, int64_t frames, int64_t block)
{
    SampleRateConverter converter(1, inRate, outRate);
    std::vector<float> input(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i)
        input[size_t(i)] = float(0.5 * std::sin(2 * M_PI * 1000 * double(i) / inRate));
    std::vector<float> output;
    std::vector<float> chunk(4096);
    auto drain = [&] {
        for (int64_t n; (n = converter.take(chunk.data(), 4096)) > 0;)
            output.insert(output.end(), chunk.begin(), chunk.begin() + n);
    };
    for (int64_t at = 0; at < frames; at += block) {
        converter.push(input.data() + at, std::min(block, frames - at));
        drain();
    }
    converter.finish();
    drain();
    return output;
}

} // namespace

TEST(SampleRateConverter, OutputHasTheRoundedLengthWhateverTheBlocks)
{
    struct Case {
        int in, out;
        int64_t frames;
    };
    for (const Case &c : {Case{44100, 48000, 44100}, Case{48000, 44100, 1}, Case{44100, 48000, 1023},
                          Case{96000, 44100, 100001}, Case{8000, 192000, 777}, Case{44100, 22050, 3}}) {
        for (int64_t block : {1, 1000, 8192}) {
            if (block == 1 && c.frames > 2000)
                continue;
            const std::vector<float> out = convertSine(c.in, c.out, c.frames, block);
            const int64_t expected = int64_t(std::llround(double(c.frames) * c.out / c.in));
            EXPECT_EQ(int64_t(out.size()), expected) << c.in << "→" << c.out << " " << c.frames;
        }
    }
    EXPECT_EQ(SampleRateConverter(1, 2, 3).outputFramesFor(1), 2); // 1.5 rounds away from zero

    // Impossible settings are refused.
    EXPECT_THROW(SampleRateConverter(0, 44100, 48000), AudioFileError);
    EXPECT_THROW(SampleRateConverter(2, 0, 48000), AudioFileError);
    EXPECT_THROW(SampleRateConverter(2, 44100, -1), AudioFileError);
}

TEST(SampleRateConverter, BlocksDoNotChangeTheSignal)
{
    const std::vector<float> whole = convertSine(44100, 48000, 20000, 20000);
    const std::vector<float> blocks = convertSine(44100, 48000, 20000, 333);
    ASSERT_EQ(whole.size(), blocks.size());
    for (size_t i = 0; i < whole.size(); ++i)
        ASSERT_NEAR(whole[i], blocks[i], 1e-6) << i;
    // And the sine keeps its phase in the converted time base.
    for (size_t i = 500; i + 500 < whole.size(); i += 311)
        EXPECT_NEAR(whole[i], 0.5 * std::sin(2 * M_PI * 1000 * double(i) / 48000), 2e-3) << i;
}
