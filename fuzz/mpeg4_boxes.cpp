// The MPEG-4 box model: splitting arbitrary bytes into boxes, and the tempo reader and the
// in-place writer over an arbitrary file held in memory.
#include "tags/internal/mpeg4_boxes.h"
#include "tags/m4a_tempo_metadata.h"

#include "memory_file.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    try {
        tampod::Mpeg4Boxes::boxes(QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    } catch (...) {
    }

    const QString path = fuzz::memoryFile(data, size);
    tampod::M4ATempoMetadata::read(path);
    try {
        tampod::M4ATempoMetadata::write(97.5, path);
        tampod::M4ATempoMetadata::read(path);
    } catch (...) {
    }
    return 0;
}
