#include "sd2/internal/apple_double.h"

#include "sd2/internal/resource_bytes.h"

#include <utility>
#include <vector>

namespace tampod::AppleDouble {

QByteArray unwrap(const QByteArray &bytes)
{
    const ResourceBytes view(bytes);
    if (view.number(0, 4) != magic)
        return bytes;
    const auto invalid = [] { return SD2MetadataError(SD2MetadataError::Case::invalid); };
    const std::uint32_t version = view.number(4, 4);
    const std::int64_t count = view.number(24, 2);
    if ((version != 0x00020000 && version != 0x00010000) || count < 1 || count > 128)
        throw invalid();
    const std::int64_t headerEnd = 26 + 12 * count;
    view.check(0, headerEnd);

    QByteArray fork;
    std::vector<std::uint32_t> ids;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t entry = 26 + 12 * i;
        const std::uint32_t id = view.number(entry, 4);
        const std::int64_t offset = view.number(entry + 4, 4);
        const std::int64_t length = view.number(entry + 8, 4);
        for (const auto earlier : ids) {
            if (earlier == id)
                throw invalid();
        }
        if (offset < headerEnd)
            throw invalid();
        view.check(offset, length);
        for (const auto &[start, size] : ranges) {
            if (length > 0 && size > 0 && offset < start + size && start < offset + length)
                throw invalid();
        }
        ids.push_back(id);
        ranges.emplace_back(offset, length);
        if (id == resourceForkEntry)
            fork = view.slice(offset, length);
    }
    return fork;
}

} // namespace tampod::AppleDouble
