#include "core/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace tampod::NumberText {

namespace {

// Lays out the shortest round-trip digits of a finite, non-zero |value| as the standard
// description does. digits has no point; exponent is the power of ten of its first digit.
std::string layout(bool negative, const std::string &digits, int exponent, bool exponential)
{
    std::string out = negative ? "-" : "";
    if (exponential) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += exponent < 0 ? "e-" : "e+";
        const int magnitude = std::abs(exponent);
        if (magnitude < 10)
            out += '0';
        out += std::to_string(magnitude);
        return out;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const auto integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
        out += digits;
        out.append(integerDigits - digits.size(), '0');
        out += ".0";
    } else {
        out.append(digits, 0, integerDigits);
        out += '.';
        out.append(digits, integerDigits, std::string::npos);
    }
    return out;
}

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

} // namespace

std::string describe(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (value == 0)
        return std::signbit(value) ? "-0.0" : "0.0";

    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const auto e = text.find('e');
    std::string digits;
    for (size_t i = 0; i < e; ++i) {
        if (text[i] != '.')
            digits += text[i];
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::atoi(text.c_str() + e + 1);
    const double magnitude = std::fabs(value);
    const bool exponential = magnitude < 1e-4 || magnitude > 9007199254740992.0;
    return layout(std::signbit(value), digits, exponent, exponential);
}

QString describeQ(double value)
{
    return QString::fromStdString(describe(value));
}

std::string whole(std::int64_t value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

QString wholeQ(std::int64_t value)
{
    return QString::fromStdString(whole(value));
}

std::optional<double> parse(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    switch (text.front()) {
    case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
        return std::nullopt;
    default:
        break;
    }
    // strtod needs a terminator; an embedded NUL ends the copy early and fails the length test.
    const std::string copy(text);
    char *end = nullptr;
    const double value = strtod_l(copy.c_str(), &end, cLocale());
    if (end == copy.c_str() || static_cast<size_t>(end - copy.c_str()) != copy.size())
        return std::nullopt;
    return value;
}

std::optional<double> parse(const QString &text)
{
    return parse(std::string_view(text.toStdString()));
}

std::optional<std::int64_t> toInt64(double value)
{
    // 2^63 is exactly representable; every double below it converts without overflow.
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::optional<std::int32_t> toInt32(double value)
{
    if (!std::isfinite(value) || value >= 2147483648.0 || value < -2147483648.0)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace tampod::NumberText
