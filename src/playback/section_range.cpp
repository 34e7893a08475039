#include "playback/section_range.h"

#include <cmath>

namespace tampod {

bool SectionRange::isValid() const
{
    return std::isfinite(start) && std::isfinite(end) && start >= 0 && end <= 1 && start < end;
}

SectionRange SectionRange::validOrWhole() const
{
    return isValid() ? *this : SectionRange{};
}

SectionRange SectionRange::initial(double duration)
{
    if (!(std::isfinite(duration) && duration > initialSeconds))
        return {};
    const double half = initialSeconds / 2 / duration;
    return SectionRange{0.5 - half, half + 0.5}.validOrWhole();
}

} // namespace tampod
