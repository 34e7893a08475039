// Arbitrary bytes through the export settings decoder, as they would come from the settings
// file: each input either decodes or throws JsonError, and what decodes survives its own
// encoding and answers every question the sheets ask of it.
#include "core/strict_json.h"
#include "export/export_defaults.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace tampod;
    ExportDefaults record;
    try {
        record = ExportDefaults::decode(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    } catch (const JsonError &) {
        return 0;
    }
    record.validationIssues();
    record.diagnosticSummary();
    record.hasAudioTreatment();
    // Written records carry "levelScaleVersion", so reading one back migrates nothing.
    if (!(ExportDefaults::decode(record.encode()) == record))
        std::abort();
    return 0;
}
