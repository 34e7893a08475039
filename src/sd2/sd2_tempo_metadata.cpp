#include "sd2/sd2_tempo_metadata.h"

#include "core/number_text.h"

#include <cmath>
#include <string_view>

namespace tampod::SD2TempoMetadata {

std::optional<double> decode(const QByteArray &payload)
{
    for (const char byte : payload) {
        if (static_cast<unsigned char>(byte) > 0x7F)
            return std::nullopt;
    }
    const std::string_view text(payload.constData(), size_t(payload.size()));
    const std::string_view head(prefix);
    if (!text.starts_with(head))
        return std::nullopt;
    const auto value = NumberText::parse(text.substr(head.size()));
    // A usable tempo is finite and above 0.
    if (!value || !std::isfinite(*value) || *value <= 0)
        return std::nullopt;
    return value;
}

} // namespace tampod::SD2TempoMetadata
