#include "core/byte_reader.h"

#include "core/error.h"

#include <bit>
#include <cstring>

namespace tampod {

bool ByteReader::contains(std::uint64_t offset, std::uint64_t count) const noexcept
{
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
}

void ByteReader::require(size_t count) const
{
    if (!has(count))
        throw MalformedData(QStringLiteral("The data ended before a field did."));
}

void ByteReader::seek(size_t offset)
{
    if (offset > bytes_.size())
        throw MalformedData(QStringLiteral("An offset points past the end of the data."));
    position_ = offset;
}

void ByteReader::skip(size_t count)
{
    require(count);
    position_ += count;
}

std::uint64_t ByteReader::readBig(size_t count)
{
    require(count);
    std::uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes_[position_ + i];
    position_ += count;
    return value;
}

std::uint64_t ByteReader::readLittle(size_t count)
{
    require(count);
    std::uint64_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = (value << 8) | bytes_[position_ + i];
    position_ += count;
    return value;
}

std::uint8_t ByteReader::u8() { return static_cast<std::uint8_t>(readBig(1)); }
std::uint16_t ByteReader::u16be() { return static_cast<std::uint16_t>(readBig(2)); }
std::uint16_t ByteReader::u16le() { return static_cast<std::uint16_t>(readLittle(2)); }
std::uint32_t ByteReader::u24be() { return static_cast<std::uint32_t>(readBig(3)); }
std::uint32_t ByteReader::u32be() { return static_cast<std::uint32_t>(readBig(4)); }
std::uint32_t ByteReader::u32le() { return static_cast<std::uint32_t>(readLittle(4)); }
std::uint64_t ByteReader::u64be() { return readBig(8); }
std::uint64_t ByteReader::u64le() { return readLittle(8); }
float ByteReader::f32le() { return std::bit_cast<float>(u32le()); }
float ByteReader::f32be() { return std::bit_cast<float>(u32be()); }

std::span<const std::uint8_t> ByteReader::bytes(size_t count)
{
    require(count);
    auto out = bytes_.subspan(position_, count);
    position_ += count;
    return out;
}

QByteArray ByteReader::byteArray(size_t count)
{
    const auto span = bytes(count);
    return QByteArray(reinterpret_cast<const char *>(span.data()), static_cast<qsizetype>(span.size()));
}

std::span<const std::uint8_t> ByteReader::bytesAt(size_t offset, size_t count) const
{
    if (!contains(offset, count))
        throw MalformedData(QStringLiteral("A field lies outside the data."));
    return bytes_.subspan(offset, count);
}

std::uint16_t ByteReader::u16beAt(size_t offset) const
{
    const auto b = bytesAt(offset, 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t ByteReader::u32beAt(size_t offset) const
{
    const auto b = bytesAt(offset, 4);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | b[3];
}

std::uint32_t ByteReader::u32leAt(size_t offset) const
{
    const auto b = bytesAt(offset, 4);
    return (std::uint32_t(b[3]) << 24) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[1]) << 8) | b[0];
}

ByteWriter &ByteWriter::big(std::uint64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i)
        data_.append(static_cast<char>((value >> (8 * i)) & 0xff));
    return *this;
}

ByteWriter &ByteWriter::little(std::uint64_t value, int count)
{
    for (int i = 0; i < count; ++i)
        data_.append(static_cast<char>((value >> (8 * i)) & 0xff));
    return *this;
}

ByteWriter &ByteWriter::u8(std::uint8_t value) { return big(value, 1); }
ByteWriter &ByteWriter::u16be(std::uint16_t value) { return big(value, 2); }
ByteWriter &ByteWriter::u16le(std::uint16_t value) { return little(value, 2); }
ByteWriter &ByteWriter::u32be(std::uint32_t value) { return big(value, 4); }
ByteWriter &ByteWriter::u32le(std::uint32_t value) { return little(value, 4); }
ByteWriter &ByteWriter::u64be(std::uint64_t value) { return big(value, 8); }
ByteWriter &ByteWriter::u64le(std::uint64_t value) { return little(value, 8); }
ByteWriter &ByteWriter::f32le(float value) { return little(std::bit_cast<std::uint32_t>(value), 4); }

ByteWriter &ByteWriter::bytes(const QByteArray &value)
{
    data_.append(value);
    return *this;
}

ByteWriter &ByteWriter::zeros(size_t count)
{
    data_.append(static_cast<qsizetype>(count), '\0');
    return *this;
}

} // namespace tampod
