#include "core/id3v2_header.h"

#include "core/byte_reader.h"

#include <cstring>

namespace tampod::Id3v2 {

std::optional<std::uint32_t> synchsafe(std::uint32_t field)
{
    if (field & 0x8080'8080u)
        return std::nullopt;
    return (field & 0x7F) | (field >> 8 & 0x7F) << 7 | (field >> 16 & 0x7F) << 14 | (field >> 24 & 0x7F) << 21;
}

std::optional<Header> header(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < headerLength || std::memcmp(bytes.data(), "ID3", 3) != 0)
        return std::nullopt;
    ByteReader reader(bytes.first(headerLength));
    reader.skip(3);
    Header result;
    result.version = reader.u8();
    result.revision = reader.u8();
    result.flags = reader.u8();
    const auto size = synchsafe(reader.u32be());
    if (!size)
        return std::nullopt;
    result.size = *size;
    return result;
}

std::optional<Header> header(const QByteArray &bytes)
{
    return header(std::span(reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size())));
}

} // namespace tampod::Id3v2
