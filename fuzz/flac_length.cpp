// The FLAC stream walks over arbitrary bytes: the proof of a header's count from the last frame,
// the frames out of order a pass meets, and the frame and STREAMINFO readers the demuxed packets
// go through, the size of a stream's first frame among them. Whatever they find must be a count
// the header could state.
#include "core/file_handle.h"
#include "platform/decode/internal/flac/flac_frame_order.h"
#include "platform/decode/internal/flac/flac_length.h"

#include "memory_file.h"

#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const tampod::FileHandle file = tampod::FileHandle::openOutside(fuzz::memoryFile(data, size));
    const std::span<const std::uint8_t> bytes(data, size);
    const std::int64_t start = tampod::flaclength::streamAt(bytes) ? 0 : 16;
    constexpr std::int64_t maximumTotal = std::int64_t(1) << 36;
    if (const auto proven = tampod::flaclength::proven(file, start, std::int64_t(size) - std::int64_t(size % 251)); proven && (*proven <= 0 || *proven >= maximumTotal))
        std::abort();
    if (const auto proof = tampod::flaclength::prove(file, start, std::int64_t(size)); proof.audioEnd < 0 || proof.audioEnd > std::int64_t(size))
        std::abort();
    // The size of the first frame, where the input's first bytes are STREAMINFO and its block
    // sizes differ: a size a frame header can state.
    const std::int64_t fixedBlock = tampod::flaclength::fixedBlockOf(bytes.subspan(bytes.size() / 3), bytes.first(bytes.size() / 3));
    if (fixedBlock < 0 || fixedBlock > 65536)
        std::abort();
    tampod::flaclength::FrameOrder order(bytes.first(bytes.size() / 3), fixedBlock);
    order.note(bytes.subspan(bytes.size() / 3));
    order.note(bytes.subspan(bytes.size() / 2));
    const std::int64_t total = tampod::flaclength::statedTotal(bytes);
    if (total < 0 || total >= maximumTotal)
        std::abort();
    // A frame's header read with the input's first bytes as its STREAMINFO.
    const auto split = bytes.size() / 2;
    if (const auto first = tampod::flaclength::frameStart(bytes.subspan(split), bytes.first(split)); first && *first < 0)
        std::abort();
    return 0;
}
