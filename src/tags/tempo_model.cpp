#include "tags/tempo_model.h"

#include "core/number_text.h"

#include <charconv>
#include <cmath>

namespace tampod::TempoModel {

bool isUsable(double bpm)
{
    return std::isfinite(bpm) && bpm > 0;
}

QString wholeText(double bpm)
{
    if (!std::isfinite(bpm))
        return NumberText::describeQ(bpm);
    const double floor = std::floor(bpm);
    // + 0.0 turns -0.0 into 0.0, so a tempo of -0.25 does not read "-0".
    const double whole = (bpm - floor > 0.5 ? floor + 1 : floor) + 0.0;
    if (const auto integer = NumberText::toInt64(whole))
        return NumberText::wholeQ(*integer);
    // Beyond 64 bits the double is itself a whole number; its exact digits read back as it.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, whole,
                                      std::chars_format::fixed, 0);
    return QString::fromLatin1(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

QString preciseText(double bpm)
{
    return NumberText::describeQ(bpm);
}

std::optional<double> parse(std::string_view text)
{
    return NumberText::parse(text);
}

std::optional<double> parse(const QString &text)
{
    return NumberText::parse(text);
}

bool agrees(double precise, double standard)
{
    const auto whole = parse(wholeText(precise));
    return whole && *whole == standard;
}

} // namespace tampod::TempoModel
