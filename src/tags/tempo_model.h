#pragma once

#include <QString>

#include <optional>
#include <string_view>

// The one model of a stored tempo shared by every tag reader and writer: a tempo is stored as a
// standard whole-number text and a precise text, and both are read back by one number rule.
namespace tampod {

// What a format stores where it keeps both: the standard whole-number value and, beside it,
// our precise text. Each format's reader decides from the two which tempo is in force.
struct StoredTempo {
    std::optional<double> standard;
    std::optional<double> precise;

    bool operator==(const StoredTempo &) const = default;
};

} // namespace tampod

namespace tampod::TempoModel {

// A usable tempo is finite and strictly greater than 0.
bool isUsable(double bpm);

// The standard whole-number text: ⌊bpm⌋, plus 1 only when the fraction is strictly greater
// than 0.5 (120.5 gives "120", 120.51 gives "121"); no grouping, whatever the locale. Every
// finite value gives digits that read back as the same whole number. Never fails.
QString wholeText(double bpm);

// The precise text: the shortest text that reads back as the same double ("120.0").
QString preciseText(double bpm);

// The number-text rule: the whole text must be one C-locale floating-point number; leading
// white space or NUL, or anything after the number, fails. "inf" and "nan" read as such.
std::optional<double> parse(std::string_view text);
std::optional<double> parse(const QString &text);
inline std::optional<double> parse(const char *text) { return parse(std::string_view(text)); }

// The pairing test: a precise value is believed beside a standard value only when its own
// whole-number text reads back as exactly that standard value.
bool agrees(double precise, double standard);

} // namespace tampod::TempoModel
