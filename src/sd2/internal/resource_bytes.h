#pragma once

#include "core/byte_reader.h"
#include "sd2/sd2_metadata_error.h"

#include <QByteArray>

#include <cstdint>

namespace tampod {

// Bounds-checked big-endian view of resource-fork bytes: every field access that leaves the
// bytes is the metadata error `invalid`. Offsets are 64-bit so sums of stored fields never wrap.
class ResourceBytes {
public:
    explicit ResourceBytes(const QByteArray &bytes) : bytes_(bytes) {}

    std::int64_t size() const noexcept { return bytes_.size(); }

    void check(std::int64_t offset, std::int64_t length) const
    {
        if (offset < 0 || length < 0 || length > size() || offset > size() - length)
            throw SD2MetadataError(SD2MetadataError::Case::invalid);
    }

    // An unsigned big-endian integer of 1...4 bytes.
    std::uint32_t number(std::int64_t offset, int length) const
    {
        check(offset, length);
        ByteReader reader(bytes_);
        reader.seek(size_t(offset));
        switch (length) {
        case 1:
            return reader.u8();
        case 2:
            return reader.u16be();
        case 3:
            return reader.u24be();
        default:
            return reader.u32be();
        }
    }

    QByteArray slice(std::int64_t offset, std::int64_t length) const
    {
        check(offset, length);
        return bytes_.mid(qsizetype(offset), qsizetype(length));
    }

private:
    const QByteArray &bytes_;
};

} // namespace tampod
