#include "tags/container_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "tags/internal/id3_text.h"
#include "tags/internal/chunk_file.h"
#include "tags/internal/tempo_text.h"
#include "tags/tempo_model.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tampod::ContainerTempoReader {

namespace {

const QString preciseDescription = QStringLiteral("tamPOD_BPM");

// Four 7-bit groups, most significant first; nullopt when a byte has its top bit set.
std::optional<std::uint32_t> synchsafe(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (const auto byte : bytes) {
        if (byte >= 0x80)
            return std::nullopt;
        value = value << 7 | byte;
    }
    return value;
}

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes)
{
    std::uint32_t value = 0;
    for (const auto byte : bytes)
        value = value << 8 | byte;
    return value;
}

bool allZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

struct TempoFrames {
    std::optional<double> standard;
    std::optional<double> precise;
};

void takeStandard(const QString &text, TempoFrames &found)
{
    const QString value = TempoText::trimmed(text);
    if (value.contains(QChar(0))) // several values in one frame
        return;
    const auto number = TempoModel::parse(value);
    if (number && std::isfinite(*number) && *number >= 0)
        found.standard = number;
}

void takePrecise(const QString &text, TempoFrames &found)
{
    const QStringList pieces = text.split(QChar(0), Qt::KeepEmptyParts);
    if (pieces.size() < 2 || pieces[0] != preciseDescription)
        return;
    const auto number = TempoModel::parse(pieces[1]);
    found.precise = number && TempoModel::isUsable(*number) ? number : std::nullopt;
}

std::optional<double> decide(const TempoFrames &found, bool pairedOnly)
{
    if (!found.standard)
        return std::nullopt;
    const double standard = *found.standard;
    if (found.precise) {
        if (TempoModel::agrees(*found.precise, standard))
            return found.precise;
    } else if (pairedOnly) {
        return std::nullopt;
    }
    return standard > 0 ? std::optional<double>(standard) : std::nullopt;
}

bool isTagChunk(const char *id)
{
    return (id[0] == 'i' || id[0] == 'I') && (id[1] == 'd' || id[1] == 'D') && id[2] == '3'
        && id[3] == ' ';
}

} // namespace

std::optional<double> readTag(std::span<const std::uint8_t> tag, bool pairedOnly)
{
    if (tag.size() < 10 || std::memcmp(tag.data(), "ID3", 3) != 0)
        return std::nullopt;
    const int version = tag[3];
    if (version < 2 || version > 4)
        return std::nullopt;
    const bool extended = version == 3 && tag[5] == 0x40;
    if (tag[5] != 0 && !extended)
        return std::nullopt;
    const auto size = synchsafe(tag.subspan(6, 4));
    if (!size || *size > maximumTagSize || tag.size() - 10 < *size)
        return std::nullopt;

    size_t position = 10;
    size_t end = 10 + *size;
    if (extended) {
        if (*size < 10)
            return std::nullopt;
        const std::uint32_t extendedSize = bigEndian(tag.subspan(10, 4));
        const std::uint8_t flags = tag[14];
        if (tag[15] != 0 || !((extendedSize == 6 && flags == 0x00) || (extendedSize == 10 && flags == 0x80)))
            return std::nullopt;
        if (extendedSize > *size - 4)
            return std::nullopt;
        const std::uint32_t padding = bigEndian(tag.subspan(16, 4));
        if (padding > *size - 4 - extendedSize || !allZero(tag.subspan(end - padding, padding)))
            return std::nullopt;
        position = 14 + extendedSize;
        end -= padding;
    }

    const size_t headerLength = version == 2 ? 6 : 10;
    const char *standardId = version == 2 ? "TBP" : "TBPM";
    const char *userTextId = version == 2 ? "TXX" : "TXXX";
    const size_t idLength = version == 2 ? 3 : 4;
    TempoFrames found;
    while (position < end) {
        if (CurrentCancellation::isCancelled())
            return std::nullopt;
        if (tag[position] == 0) {
            if (!allZero(tag.subspan(position, end - position)))
                return std::nullopt;
            break;
        }
        if (end - position < headerLength)
            return std::nullopt;
        const auto header = tag.subspan(position, headerLength);
        std::uint32_t frameSize;
        if (version == 2) {
            frameSize = bigEndian(header.subspan(3, 3));
        } else if (version == 3) {
            frameSize = bigEndian(header.subspan(4, 4));
        } else {
            const auto value = synchsafe(header.subspan(4, 4));
            if (!value)
                return std::nullopt;
            frameSize = *value;
        }
        if (frameSize < 1 || frameSize > end - position - headerLength)
            return std::nullopt;
        // Flagged frames may be compressed, encrypted, grouped or unsynchronised: not read.
        const bool flagged = version != 2 && (header[8] != 0 || header[9] != 0);
        if (!flagged) {
            const auto *id = reinterpret_cast<const char *>(header.data());
            const bool isStandard = std::memcmp(id, standardId, idLength) == 0;
            const bool isUserText = std::memcmp(id, userTextId, idLength) == 0;
            if (isStandard || isUserText) {
                if (const auto text = Id3Text::decode(tag.subspan(position + headerLength, frameSize))) {
                    if (isStandard)
                        takeStandard(*text, found);
                    else
                        takePrecise(*text, found);
                }
            }
        }
        position += headerLength + frameSize;
    }
    return decide(found, pairedOnly);
}

std::optional<double> readTag(const QByteArray &tag, bool pairedOnly)
{
    return readTag(std::span(reinterpret_cast<const std::uint8_t *>(tag.constData()),
                             static_cast<size_t>(tag.size())),
                   pairedOnly);
}

std::optional<double> read(const QString &path, bool pairedOnly)
{
    try {
        auto container = ChunkFile::open(path);
        if (!container)
            return std::nullopt;
        std::uint64_t offset = 12;
        for (int examined = 0;; ++examined) {
            if (container->end < offset + 8 || examined >= maximumChunks || CurrentCancellation::isCancelled())
                return std::nullopt;
            const auto chunk = ChunkFile::header(container->file, offset, container->littleEndian);
            if (!chunk || chunk->size > container->end - offset - 8)
                return std::nullopt;
            if (isTagChunk(chunk->id.constData()) && chunk->size <= maximumTagSize) {
                const QByteArray payload = container->file.preadUpTo(static_cast<qint64>(offset + 8),
                                                                     static_cast<qint64>(chunk->size));
                if (payload.size() == static_cast<qsizetype>(chunk->size)) {
                    if (const auto tempo = readTag(payload, pairedOnly))
                        return tempo;
                }
            }
            offset = chunk->next(offset);
        }
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tampod::ContainerTempoReader
