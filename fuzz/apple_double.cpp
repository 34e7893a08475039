// AppleDouble companion bytes, unwrapped and then parsed as the SD2 reader does with a "._"
// file: only the metadata error may come out.
#include "sd2/internal/apple_double.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
                                                     qsizetype(size));
    try {
        const QByteArray fork = tampod::AppleDouble::unwrap(bytes);
        if (!fork.isEmpty())
            tampod::SD2MetadataReader::parse(fork);
    } catch (const tampod::SD2MetadataError &) {
    }
    return 0;
}
