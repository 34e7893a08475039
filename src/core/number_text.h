#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tampod::NumberText {

// The standard description of a double: the shortest text that reads back as the same number,
// ".0" on whole values, exponent form ("1e+16", "1e-05") only for magnitudes above 2^53 or below
// 1e-4. Never depends on the process locale.
std::string describe(double value);
QString describeQ(double value);

// A whole number without grouping, whatever the locale.
std::string whole(std::int64_t value);
QString wholeQ(std::int64_t value);

// The C-locale number rule: the whole text must be one floating-point number as strtod reads
// it in the "C" locale. Leading white space (or NUL) and anything after the number fail.
// Exponents, "inf" and "nan" read as such; the caller decides whether they are usable.
std::optional<double> parse(std::string_view text);
std::optional<double> parse(const QString &text);

// Guarded double → integer conversions: nullopt for NaN, infinities and values out of range.
std::optional<std::int64_t> toInt64(double value);
std::optional<std::int32_t> toInt32(double value);

} // namespace tampod::NumberText
