#include "platform/decode/internal/stream_start_search.h"

#include "core/file_handle.h"

#include <QByteArray>

#include <algorithm>

namespace tampod::streamstart {

std::optional<int64_t> nearest(const FileHandle &file, int64_t stated, int64_t floor, const Test &startsAt)
{
    // Most tags state their size right: their stream is judged from a small read.
    const QByteArray first = file.preadUpTo(stated, lookAhead);
    if (!first.isEmpty()
        && startsAt(std::span(reinterpret_cast<const uint8_t *>(first.constData()), size_t(first.size())),
                    first.size() < lookAhead))
        return stated;
    const int64_t from = std::max({floor, stated - bytesBefore, int64_t(0)});
    const QByteArray window = file.preadUpTo(from, stated + bytesAfter + lookAhead - from);
    const bool fileEnds = window.size() < stated + bytesAfter + lookAhead - from;
    const auto *bytes = reinterpret_cast<const uint8_t *>(window.constData());
    const auto startsAtOffset = [&](int64_t offset) {
        const int64_t index = offset - from;
        if (offset < from || index >= window.size())
            return false;
        const size_t count = size_t(std::min<int64_t>(window.size() - index, lookAhead));
        return startsAt(std::span(bytes + index, count), fileEnds && index + int64_t(count) == window.size());
    };
    for (int64_t distance = 0; distance <= bytesAfter; ++distance) {
        if (startsAtOffset(stated + distance))
            return stated + distance;
        if (distance > 0 && distance <= bytesBefore && startsAtOffset(stated - distance))
            return stated - distance;
    }
    return std::nullopt;
}

} // namespace tampod::streamstart
