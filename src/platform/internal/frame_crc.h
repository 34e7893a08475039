#pragma once

// Private to the platform module.

#include <array>
#include <cstdint>

namespace tampod {

// CRC-8 with polynomial 0x07, most significant bit first, initial value 0: the checksum of a
// FLAC frame's header.
inline uint8_t crc8(const uint8_t *data, int64_t size)
{
    static constexpr std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> entries{};
        for (int i = 0; i < 256; ++i) {
            auto value = uint8_t(i);
            for (int bit = 0; bit < 8; ++bit)
                value = uint8_t(value & 0x80 ? (value << 1) ^ 0x07 : value << 1);
            entries[size_t(i)] = value;
        }
        return entries;
    }();
    uint8_t crc = 0;
    for (int64_t i = 0; i < size; ++i)
        crc = table[crc ^ data[i]];
    return crc;
}

// CRC-16 with polynomial 0x8005, most significant bit first, initial value 0: the checksum
// FLAC frames and AC-3 frames carry.
inline uint16_t crc16(const uint8_t *data, int64_t size, uint16_t crc = 0)
{
    static constexpr std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> entries{};
        for (int i = 0; i < 256; ++i) {
            auto value = uint16_t(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                value = uint16_t(value & 0x8000 ? (value << 1) ^ 0x8005 : value << 1);
            entries[size_t(i)] = value;
        }
        return entries;
    }();
    for (int64_t i = 0; i < size; ++i)
        crc = uint16_t(crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF];
    return crc;
}

} // namespace tampod
