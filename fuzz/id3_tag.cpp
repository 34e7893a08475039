// The ID3v2 tag parser over arbitrary bytes, paired and unpaired.
#include "tags/container_tempo_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    tampod::ContainerTempoReader::readTag(bytes, false);
    tampod::ContainerTempoReader::readTag(bytes, true);
    return 0;
}
