// The REX information record and the checks on rendered output: any nine words either give a
// loop within the limits whose batches add up to its length, or a REX error; any samples are
// passed on interleaved exactly when all of them are finite.
#include "library/rex_error.h"
#include "library/rex_info.h"
#include "rex/rex_render_buffer.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace tampod;
    std::vector<std::int32_t> words(9, 0);
    std::memcpy(words.data(), data, std::min<std::size_t>(size, 36));
    if (size > 0 && data[0] == 0xFF)
        words.resize(data[0] % 3 == 0 ? 8 : 10); // a record of the wrong length
    REXInfo info;
    try {
        info = REXInfo::fromWords(words);
    } catch (const REXError &) {
        return 0;
    }
    const std::int64_t frames = info.frames();
    if (frames < 1 || double(frames) * info.channels * 4 > 268'435'456.0 + 8 || words.size() != 9)
        std::abort();
    std::int64_t rendered = 0;
    for (int batch; (batch = REXRenderBuffer::nextBatch(frames, rendered)) > 0;) {
        if (batch > REXRenderBuffer::batchFrames)
            std::abort();
        rendered += batch;
    }
    if (rendered != frames)
        std::abort();

    // The rest of the input is one batch of samples, channel after channel.
    REXRenderBuffer buffer(info.channels);
    const std::size_t offset = std::min<std::size_t>(size, 36);
    const int count = int(std::min<std::size_t>((size - offset) / 4 / std::size_t(info.channels),
                                                REXRenderBuffer::batchFrames));
    bool finite = true;
    for (int channel = 0; channel < info.channels; ++channel) {
        std::memcpy(buffer.outputs()[channel], data + offset + std::size_t(channel) * count * 4, std::size_t(count) * 4);
        for (int i = 0; i < count; ++i)
            finite = finite && std::isfinite(buffer.outputs()[channel][i]);
    }
    if (info.channels == 1 && buffer.outputs()[1] != nullptr)
        std::abort();
    try {
        buffer.checkFinite(count);
    } catch (const REXError &error) {
        if (finite || error.kind() != REXError::Kind::verification)
            std::abort();
        return 0;
    }
    if (!finite)
        std::abort();
    const float *interleaved = buffer.interleave(count);
    for (int i = 0; i < count; ++i)
        for (int channel = 0; channel < info.channels; ++channel)
            if (std::memcmp(&interleaved[i * info.channels + channel], &buffer.outputs()[channel][i], 4) != 0)
                std::abort();
    return 0;
}
