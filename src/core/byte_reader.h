#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <span>

namespace tampod {

// Bounds-checked reading of big- and little-endian fields from bytes that came from outside.
// Every read past the end throws MalformedData; the position never moves past the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    explicit ByteReader(const QByteArray &bytes) noexcept
        : bytes_(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                 static_cast<size_t>(bytes.size())) {}

    size_t size() const noexcept { return bytes_.size(); }
    size_t position() const noexcept { return position_; }
    size_t remaining() const noexcept { return bytes_.size() - position_; }
    bool has(size_t count) const noexcept { return count <= remaining(); }
    // True when [offset, offset + count) lies inside the bytes, without overflow.
    bool contains(std::uint64_t offset, std::uint64_t count) const noexcept;

    void seek(size_t offset);
    void skip(size_t count);

    std::uint8_t u8();
    std::uint16_t u16be();
    std::uint16_t u16le();
    std::uint32_t u24be();
    std::uint32_t u32be();
    std::uint32_t u32le();
    std::uint64_t u64be();
    std::uint64_t u64le();
    std::int16_t i16be() { return static_cast<std::int16_t>(u16be()); }
    std::int16_t i16le() { return static_cast<std::int16_t>(u16le()); }
    std::int32_t i32be() { return static_cast<std::int32_t>(u32be()); }
    std::int32_t i32le() { return static_cast<std::int32_t>(u32le()); }
    float f32le();
    float f32be();
    std::span<const std::uint8_t> bytes(size_t count);
    QByteArray byteArray(size_t count);

    // Absolute reads that leave the position alone.
    std::uint16_t u16beAt(size_t offset) const;
    std::uint32_t u32beAt(size_t offset) const;
    std::uint32_t u32leAt(size_t offset) const;
    std::span<const std::uint8_t> bytesAt(size_t offset, size_t count) const;

private:
    void require(size_t count) const;
    std::uint64_t readBig(size_t count);
    std::uint64_t readLittle(size_t count);

    std::span<const std::uint8_t> bytes_;
    size_t position_ = 0;
};

// Building byte structures: appends big- and little-endian fields to a QByteArray.
class ByteWriter {
public:
    ByteWriter &u8(std::uint8_t value);
    ByteWriter &u16be(std::uint16_t value);
    ByteWriter &u16le(std::uint16_t value);
    ByteWriter &u32be(std::uint32_t value);
    ByteWriter &u32le(std::uint32_t value);
    ByteWriter &u64be(std::uint64_t value);
    ByteWriter &u64le(std::uint64_t value);
    ByteWriter &f32le(float value);
    ByteWriter &bytes(const QByteArray &value);
    ByteWriter &zeros(size_t count);

    const QByteArray &data() const noexcept { return data_; }
    QByteArray take() { return std::move(data_); }

private:
    ByteWriter &big(std::uint64_t value, int count);
    ByteWriter &little(std::uint64_t value, int count);

    QByteArray data_;
};

} // namespace tampod
