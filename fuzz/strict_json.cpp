// Mutated JSON text through the strict reader: any input ends in a value or JsonError.
#include "core/strict_json.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace tampod;
    try {
        const auto json = StrictJson::parse(QByteArray(reinterpret_cast<const char *>(data),
                                                       static_cast<qsizetype>(size)));
        StrictJson::dump(json);
        if (json.is_object()) {
            for (const char *key : {"a", "version", "path"}) {
                try { StrictJson::optionalInt64(json, key); } catch (const JsonError &) {}
                try { StrictJson::optionalUInt64(json, key); } catch (const JsonError &) {}
                try { StrictJson::optionalString(json, key); } catch (const JsonError &) {}
            }
        }
    } catch (const JsonError &) {
    }
    return 0;
}
