#include "tags/internal/utf8_text.h"

namespace tampod::Utf8Text {

namespace {

constexpr char replacement[] = "\xEF\xBF\xBD";

struct Lead {
    int length;                  // bytes in the whole sequence; 0 for a byte that never leads
    std::uint8_t secondLow = 0x80; // the second byte's range narrows for some leads
    std::uint8_t secondHigh = 0xBF;
};

// The well-formed sequences of the standard's table: overlong forms, surrogates and values
// above U+10FFFF are excluded through the second byte's range.
Lead lead(std::uint8_t byte)
{
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2};
    if (byte == 0xE0)
        return {3, 0xA0, 0xBF};
    if (byte == 0xED)
        return {3, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF)
        return {3};
    if (byte == 0xF0)
        return {4, 0x90, 0xBF};
    if (byte == 0xF4)
        return {4, 0x80, 0x8F};
    if (byte >= 0xF1 && byte <= 0xF3)
        return {4};
    return {0};
}

} // namespace

QByteArray repaired(std::span<const std::uint8_t> bytes)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        const std::uint8_t first = bytes[i];
        if (first < 0x80) {
            out.append(static_cast<char>(first));
            ++i;
            continue;
        }
        const Lead expected = lead(first);
        // How many bytes, the lead included, form a valid prefix of a sequence.
        size_t valid = expected.length == 0 ? 0 : 1;
        while (valid > 0 && valid < static_cast<size_t>(expected.length) && i + valid < size) {
            const std::uint8_t next = bytes[i + valid];
            const std::uint8_t low = valid == 1 ? expected.secondLow : 0x80;
            const std::uint8_t high = valid == 1 ? expected.secondHigh : 0xBF;
            if (next < low || next > high)
                break;
            ++valid;
        }
        if (valid > 0 && valid == static_cast<size_t>(expected.length)) {
            out.append(reinterpret_cast<const char *>(bytes.data() + i), static_cast<qsizetype>(valid));
            i += valid;
        } else {
            // The maximal subpart (at least the offending byte itself) becomes one U+FFFD.
            out.append(replacement, 3);
            i += valid == 0 ? 1 : valid;
        }
    }
    return out;
}

QByteArray repaired(const QByteArray &bytes)
{
    return repaired(std::span(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                              static_cast<size_t>(bytes.size())));
}

} // namespace tampod::Utf8Text
