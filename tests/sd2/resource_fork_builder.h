#pragma once

#include "core/byte_reader.h"
#include "sd2/sd2_metadata_error.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace tampod::test {

constexpr std::uint32_t typeSTR = 0x53545220;
constexpr std::uint32_t typeSBPM = 0x7342504D;
constexpr std::uint32_t typeSDDD = 0x73644444;

struct Resource {
    std::uint32_t type;
    std::uint16_t id;
    QByteArray data;
    std::uint8_t attributes = 0;
    std::optional<QByteArray> name = {};
};

// The SD2 metadata error a call ends with, if any.
template <typename Call>
std::optional<SD2MetadataError::Case> failureOf(Call call)
{
    try {
        call();
    } catch (const SD2MetadataError &error) {
        return error.which();
    }
    return std::nullopt;
}

inline QByteArray pascal(const QByteArray &text) { return char(text.size()) + text; }

// The three parameter strings of an SD2 file, then any more resources.
inline std::vector<Resource> parameters(const char *sampleBytes, const char *rate, const char *channels,
                                        const std::vector<Resource> &more = {})
{
    std::vector<Resource> all{{typeSTR, 1000, pascal(sampleBytes)}, {typeSTR, 1001, pascal(rate)}, {typeSTR, 1002, pascal(channels)}};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// A resource fork in the classic layout: a 16-byte header, a gap up to the data area at 256,
// the data entries, then the map (header copy, type list at 28, reference lists, names).
// Types keep the order of their first resource.
inline QByteArray buildFork(const std::vector<Resource> &resources)
{
    std::vector<std::uint32_t> types;
    ByteWriter data, names;
    for (const auto &r : resources) {
        if (std::find(types.begin(), types.end(), r.type) == types.end())
            types.push_back(r.type);
    }
    ByteWriter typeList, references;
    typeList.u16be(std::uint16_t(types.size() - 1));
    const int typeListSize = 2 + 8 * int(types.size());
    for (const auto type : types) {
        int count = 0;
        const int listOffset = typeListSize + int(references.data().size());
        for (const auto &r : resources) {
            if (r.type != type)
                continue;
            ++count;
            const auto dataOffset = std::uint32_t(data.data().size());
            references.u16be(r.id).u16be(r.name ? std::uint16_t(names.data().size()) : 0xFFFF).u8(r.attributes);
            references.u8(std::uint8_t(dataOffset >> 16)).u16be(std::uint16_t(dataOffset)).u32be(0);
            data.u32be(std::uint32_t(r.data.size())).bytes(r.data);
            if (r.name)
                names.bytes(pascal(*r.name));
        }
        typeList.u32be(type).u16be(std::uint16_t(count - 1)).u16be(std::uint16_t(listOffset));
    }
    const auto nameListOffset = std::uint16_t(28 + typeListSize + references.data().size());
    const auto dataLength = std::uint32_t(data.data().size());
    const QByteArray header = ByteWriter().u32be(256).u32be(256 + dataLength).u32be(dataLength)
                                  .u32be(nameListOffset + std::uint32_t(names.data().size())).take();
    return ByteWriter().bytes(header).zeros(240).bytes(data.data()).bytes(header).zeros(8).u16be(28).u16be(nameListOffset)
        .bytes(typeList.data()).bytes(references.data()).bytes(names.data()).take();
}

inline void put16(QByteArray &bytes, int offset, std::uint16_t value) { bytes.replace(offset, 2, ByteWriter().u16be(value).data()); }
inline void put32(QByteArray &bytes, int offset, std::uint32_t value) { bytes.replace(offset, 4, ByteWriter().u32be(value).data()); }

struct AppleDoubleEntry {
    std::uint32_t id;
    QByteArray data;
};

// An AppleDouble companion holding the given entries, packed after the header.
inline QByteArray appleDouble(const std::vector<AppleDoubleEntry> &entries, std::uint32_t version = 0x00020000)
{
    ByteWriter header;
    header.u32be(0x00051607).u32be(version).zeros(16).u16be(std::uint16_t(entries.size()));
    auto offset = std::uint32_t(26 + 12 * entries.size());
    QByteArray body;
    for (const auto &entry : entries) {
        header.u32be(entry.id).u32be(offset).u32be(std::uint32_t(entry.data.size()));
        offset += std::uint32_t(entry.data.size());
        body += entry.data;
    }
    return header.data() + body;
}

} // namespace tampod::test
