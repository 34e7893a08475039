#include "tags/internal/id3_text.h"

#include "core/byte_reader.h"

#include <vector>

namespace tampod::Id3Text {

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::optional<QString> fromUnits(const std::vector<char16_t> &units)
{
    for (size_t i = 0; i < units.size(); ++i) {
        if (isHighSurrogate(units[i])) {
            if (i + 1 >= units.size() || !isLowSurrogate(units[i + 1]))
                return std::nullopt;
            ++i;
        } else if (isLowSurrogate(units[i])) {
            return std::nullopt;
        }
    }
    return QString(reinterpret_cast<const QChar *>(units.data()),
                   static_cast<qsizetype>(units.size()));
}

char16_t unitAt(std::span<const std::uint8_t> text, size_t i, bool bigEndian)
{
    ByteReader unit(text.subspan(i, 2));
    return static_cast<char16_t>(bigEndian ? unit.u16be() : unit.u16le());
}

std::optional<QString> utf16BigEndian(std::span<const std::uint8_t> text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<char16_t> units;
    units.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2)
        units.push_back(unitAt(text, i, true));
    return fromUnits(units);
}

// Encoding 1. Every NUL-terminated string of a frame (a TXXX description and its value) may
// start with its own byte-order mark, as ID3v2 writers put them; a mark is taken at the start
// of any string and holds until the next one. Text without any mark is read little-endian,
// the order of the writers that leave it out.
std::optional<QString> utf16WithMarks(std::span<const std::uint8_t> text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<char16_t> units;
    units.reserve(text.size() / 2);
    bool bigEndian = false;
    bool atStringStart = true;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (atStringStart) {
            atStringStart = false;
            if (text[i] == 0xFE && text[i + 1] == 0xFF) {
                bigEndian = true;
                continue;
            }
            if (text[i] == 0xFF && text[i + 1] == 0xFE) {
                bigEndian = false;
                continue;
            }
        }
        const char16_t unit = unitAt(text, i, bigEndian);
        units.push_back(unit);
        atStringStart = unit == 0;
    }
    return fromUnits(units);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::span<const std::uint8_t> text)
{
    size_t i = 0;
    while (i < text.size()) {
        const std::uint8_t lead = text[i];
        size_t length;
        std::uint32_t minimum;
        std::uint32_t code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (text[i + k] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

std::optional<QString> decode(std::span<const std::uint8_t> payload)
{
    if (payload.empty())
        return std::nullopt;
    const auto text = payload.subspan(1);
    const auto *chars = reinterpret_cast<const char *>(text.data());
    const auto size = static_cast<qsizetype>(text.size());
    switch (payload[0]) {
    case 0:
        return QString::fromLatin1(chars, size);
    case 1:
        return utf16WithMarks(text);
    case 2:
        return utf16BigEndian(text);
    case 3:
        if (!isValidUtf8(text))
            return std::nullopt;
        return QString::fromUtf8(chars, size);
    default:
        return std::nullopt;
    }
}

} // namespace tampod::Id3Text
