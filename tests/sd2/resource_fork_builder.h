#pragma once

#include "core/byte_reader.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tampod::test {

constexpr std::uint32_t typeSTR = 0x53545220;
constexpr std::uint32_t typeSBPM = 0x7342504D;
constexpr std::uint32_t typeSDDD = 0x73644444;

struct Resource {
    Resource(std::uint32_t type, std::uint16_t id, QByteArray data, std::uint8_t attributes = 0)
        : type(type), id(id), data(std::move(data)), attributes(attributes) {}

    std::uint32_t type;
    std::uint16_t id;
    QByteArray data;
    std::uint8_t attributes;
    std::optional<QByteArray> name;
};

inline QByteArray pascal(const QByteArray &text)
{
    return char(text.size()) + text;
}

// The three parameter strings of an SD2 file.
inline std::vector<Resource> parameters(const char *sampleBytes, const char *rate,
                                        const char *channels)
{
    return {{typeSTR, 1000, pascal(sampleBytes)},
            {typeSTR, 1001, pascal(rate)},
            {typeSTR, 1002, pascal(channels)}};
}

// Positions of the parts of a built fork, for tests that damage one field.
struct ForkLayout {
    int dataOffset = 256;
    int mapOffset = 0;
    int typeList = 0;     // absolute
    int nameList = 0;     // absolute
    std::vector<int> referenceLists; // absolute, one per type
};

// A resource fork in the classic layout: header, a gap up to the data area at 256, the data
// entries, then the map. Types keep the order of their first resource.
inline QByteArray buildFork(const std::vector<Resource> &resources, ForkLayout *layout = nullptr)
{
    std::vector<std::uint32_t> types;
    for (const auto &r : resources) {
        bool known = false;
        for (auto t : types)
            known = known || t == r.type;
        if (!known)
            types.push_back(r.type);
    }
    ByteWriter data;
    std::vector<std::uint32_t> dataOffsets;
    for (const auto &r : resources) {
        dataOffsets.push_back(std::uint32_t(data.data().size()));
        data.u32be(std::uint32_t(r.data.size())).bytes(r.data);
    }
    ByteWriter names;
    std::vector<int> nameOffsets;
    for (const auto &r : resources) {
        nameOffsets.push_back(r.name ? int(names.data().size()) : 0xFFFF);
        if (r.name)
            names.bytes(pascal(*r.name));
    }
    const int typeListOffset = 28;
    const int typeListSize = 2 + 8 * int(types.size());
    ByteWriter typeList;
    ByteWriter references;
    typeList.u16be(std::uint16_t(types.size() - 1));
    ForkLayout positions;
    for (const auto type : types) {
        int count = 0;
        const int listOffset = typeListSize + int(references.data().size());
        for (size_t i = 0; i < resources.size(); ++i) {
            const auto &r = resources[i];
            if (r.type != type)
                continue;
            ++count;
            references.u16be(r.id).u16be(std::uint16_t(nameOffsets[i])).u8(r.attributes);
            references.u8(std::uint8_t(dataOffsets[i] >> 16)).u16be(std::uint16_t(dataOffsets[i]));
            references.u32be(0);
        }
        typeList.u32be(type).u16be(std::uint16_t(count - 1)).u16be(std::uint16_t(listOffset));
        positions.referenceLists.push_back(listOffset);
    }
    const int nameListOffset = typeListOffset + typeListSize + int(references.data().size());
    const int dataLength = int(data.data().size());
    const int mapOffset = positions.dataOffset + dataLength;
    const int mapLength = nameListOffset + int(names.data().size());

    ByteWriter header;
    header.u32be(std::uint32_t(positions.dataOffset)).u32be(std::uint32_t(mapOffset));
    header.u32be(std::uint32_t(dataLength)).u32be(std::uint32_t(mapLength));
    ByteWriter fork;
    fork.bytes(header.data()).zeros(size_t(positions.dataOffset - 16)).bytes(data.data());
    fork.bytes(header.data()).zeros(8).u16be(std::uint16_t(typeListOffset));
    fork.u16be(std::uint16_t(nameListOffset)).bytes(typeList.data()).bytes(references.data());
    fork.bytes(names.data());
    if (layout) {
        positions.mapOffset = mapOffset;
        positions.typeList = mapOffset + typeListOffset;
        positions.nameList = mapOffset + nameListOffset;
        for (auto &list : positions.referenceLists)
            list += positions.typeList;
        *layout = positions;
    }
    return fork.take();
}

inline void put16(QByteArray &bytes, int offset, std::uint16_t value)
{
    bytes[offset] = char(value >> 8);
    bytes[offset + 1] = char(value);
}

inline void put32(QByteArray &bytes, int offset, std::uint32_t value)
{
    put16(bytes, offset, std::uint16_t(value >> 16));
    put16(bytes, offset + 2, std::uint16_t(value));
}

struct AppleDoubleEntry {
    std::uint32_t id;
    QByteArray data;
};

// An AppleDouble companion holding the given entries, packed after the header.
inline QByteArray appleDouble(const std::vector<AppleDoubleEntry> &entries,
                              std::uint32_t version = 0x00020000)
{
    ByteWriter header;
    header.u32be(0x00051607).u32be(version).zeros(16).u16be(std::uint16_t(entries.size()));
    std::uint32_t offset = std::uint32_t(26 + 12 * entries.size());
    QByteArray body;
    for (const auto &entry : entries) {
        header.u32be(entry.id).u32be(offset).u32be(std::uint32_t(entry.data.size()));
        offset += std::uint32_t(entry.data.size());
        body += entry.data;
    }
    return header.data() + body;
}

} // namespace tampod::test
