// Mutated JSON text through the strict reader: any input ends in a value or JsonError. The
// same bytes taken as a file name come back exactly from their path text.
#include "core/native_path.h"
#include "core/strict_json.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace tampod;
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (encodedPath(decodedPath(bytes)) != bytes)
        __builtin_trap();
    try {
        const auto json = StrictJson::parse(bytes);
        StrictJson::dump(json);
        if (json.is_object()) {
            for (const char *key : {"a", "version", "path"}) {
                try { StrictJson::optionalInt64(json, key); } catch (const JsonError &) {}
                try { StrictJson::optionalUInt64(json, key); } catch (const JsonError &) {}
                try { StrictJson::optionalString(json, key); } catch (const JsonError &) {}
                try { StrictJson::requirePath(json, key); } catch (const JsonError &) {}
            }
        }
    } catch (const JsonError &) {
    }
    return 0;
}
