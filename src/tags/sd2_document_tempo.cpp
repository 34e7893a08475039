#include "tags/sd2_document_tempo.h"

#include "core/byte_reader.h"

#include <cmath>

namespace tampod::SD2DocumentTempo {

namespace {

constexpr double maximumWord = 2147483647.0;

// Fixed bytes of the record as written; everything else but the tempo word is zero.
struct FixedByte {
    int offset;
    std::uint8_t value;
};
constexpr FixedByte fixedBytes[] = {
    {1, 0x01},   {10, 0x01},  {11, 0x20},  {267, 0x08}, {273, 0x1E}, {275, 0x23},
    {293, 0x04}, {295, 0x04}, {302, 0xFF}, {307, 0x01}, {310, 0x01}, {311, 0x47},
    {313, 0x04}, {314, 0x06}, {351, 0x01}, {354, 0x03},
};

void putText(QByteArray &bytes, int offset, const char *text)
{
    for (int i = 0; text[i] != '\0'; ++i)
        bytes[offset + i] = text[i];
}

} // namespace

std::optional<double> read(const QByteArray &record)
{
    if (record.size() != recordLength || record[0] != '\0' || record[1] != '\x01')
        return std::nullopt;
    const auto word = static_cast<std::int32_t>(ByteReader(record).u32beAt(tempoOffset));
    if (word < 1)
        return std::nullopt;
    return double(word) / 65536.0 * 60.0;
}

std::optional<std::uint32_t> fixedWord(double bpm)
{
    if (!std::isfinite(bpm) || bpm <= 0)
        return std::nullopt;
    const double word = std::round(bpm / 60.0 * 65536.0);
    if (!(word >= 1.0 && word <= maximumWord))
        return std::nullopt;
    return static_cast<std::uint32_t>(word);
}

std::optional<QByteArray> record(double bpm)
{
    const auto word = fixedWord(bpm);
    if (!word)
        return std::nullopt;
    QByteArray bytes(recordLength, '\0');
    for (const auto &fixed : fixedBytes)
        bytes[fixed.offset] = char(fixed.value);
    putText(bytes, 315, "%Scale");
    putText(bytes, 355, "sec");
    for (int i = 0; i < 4; ++i)
        bytes[tempoOffset + i] = char((*word >> (24 - 8 * i)) & 0xFF);
    return bytes;
}

std::optional<double> inForce(const StoredTempo &values)
{
    const auto &[native, precise] = values;
    if (!native)
        return precise;
    if (!precise)
        return native;
    return fixedWord(*precise) == fixedWord(*native) ? precise : native;
}

} // namespace tampod::SD2DocumentTempo
