// Resource-fork bytes into the tempo resources writer: whatever fork a file holds, adding the
// tempo either gives a fork that parses with the tempo in force, or fails with the metadata or
// the export error, never reading or writing outside the bytes.
#include "files/journal/audio_export_error.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_resources.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const QByteArray written = tampod::SD2TempoMetadata::adding(98.76, bytes);
        if (tampod::SD2MetadataReader::parse(written).bpm != 98.76)
            std::abort();
    } catch (const tampod::SD2MetadataError &) {
    } catch (const tampod::AudioExportError &) {
    }
    return 0;
}
