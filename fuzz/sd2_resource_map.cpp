// Resource-fork bytes straight into the SD2 metadata parser: every input either parses or
// fails with the metadata error, and never reads outside the bytes.
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
        tampod::SD2MetadataReader::parse(bytes);
    } catch (const tampod::SD2MetadataError &) {
    }
    return 0;
}
