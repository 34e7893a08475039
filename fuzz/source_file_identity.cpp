// Identity records read back from JSON: any bytes give an identity or a JsonError.
#include "core/strict_json.h"
#include "files/access/source_file_identity.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        const auto identity = tampod::SourceFileIdentity::fromJson(tampod::StrictJson::parse(bytes));
        // What was read writes back to an equal identity.
        if (tampod::SourceFileIdentity::fromJson(identity.toJson()) != identity)
            __builtin_trap();
    } catch (const tampod::JsonError &) {
    }
    return 0;
}
