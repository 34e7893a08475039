#include "tags/container_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "core/id3v2_header.h"
#include "tags/internal/chunk_file.h"
#include "tags/internal/id3_text.h"
#include "tags/internal/tempo_text.h"
#include "tags/read_or_none.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tampod::ContainerTempoReader {

namespace {

const QString preciseDescription = QStringLiteral("tamPOD_BPM");

bool allZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void takeStandard(const QString &text, StoredTempo &found)
{
    const QString value = TempoText::trimmed(text);
    if (value.contains(QChar(0))) // several values in one frame
        return;
    const auto number = TempoModel::parse(value);
    if (number && std::isfinite(*number) && *number >= 0)
        found.standard = number;
}

void takePrecise(const QString &text, StoredTempo &found)
{
    const QStringList pieces = text.split(QChar(0), Qt::KeepEmptyParts);
    if (pieces.size() < 2 || pieces[0] != preciseDescription)
        return;
    const auto number = TempoModel::parse(pieces[1]);
    found.precise = number && TempoModel::isUsable(*number) ? number : std::nullopt;
}

bool isTagChunk(const QByteArray &id)
{
    return (id[0] == 'i' || id[0] == 'I') && (id[1] == 'd' || id[1] == 'D') && id[2] == '3' && id[3] == ' ';
}

// Where the frames of a version 2.3 tag with an extended header start and end; none for a
// header of another shape or padding that is not zero.
std::optional<std::pair<size_t, size_t>> extendedBounds(const ByteReader &tag, std::uint32_t size)
{
    if (size < 10)
        return std::nullopt;
    const std::uint32_t extendedSize = tag.u32beAt(10);
    const auto flags = tag.bytesAt(14, 2);
    if (flags[1] != 0 || !((extendedSize == 6 && flags[0] == 0x00) || (extendedSize == 10 && flags[0] == 0x80)))
        return std::nullopt;
    if (extendedSize > size - 4)
        return std::nullopt;
    const std::uint32_t padding = tag.u32beAt(16);
    const size_t end = 10 + size_t(size);
    if (padding > size - 4 - extendedSize || !allZero(tag.bytesAt(end - padding, padding)))
        return std::nullopt;
    return std::pair<size_t, size_t>(14 + extendedSize, end - padding);
}

} // namespace

std::optional<StoredTempo> tagValues(std::span<const std::uint8_t> bytes)
{
    const auto header = Id3v2::header(bytes);
    if (!header || header->version < 2 || header->version > 4)
        return std::nullopt;
    const int version = header->version;
    const bool extended = version == 3 && header->flags == 0x40;
    if (header->flags != 0 && !extended)
        return std::nullopt;
    if (header->size > maximumTagSize || bytes.size() - Id3v2::headerLength < header->size)
        return std::nullopt;

    const ByteReader tag(bytes.first(Id3v2::headerLength + header->size));
    size_t position = Id3v2::headerLength;
    size_t end = tag.size();
    if (extended) {
        const auto bounds = extendedBounds(tag, header->size);
        if (!bounds)
            return std::nullopt;
        std::tie(position, end) = *bounds;
    }

    const size_t headerLength = version == 2 ? 6 : 10;
    const size_t idLength = version == 2 ? 3 : 4;
    const char *standardId = version == 2 ? "TBP" : "TBPM";
    const char *userTextId = version == 2 ? "TXX" : "TXXX";
    StoredTempo found;
    while (position < end) {
        CurrentCancellation::throwIfCancelled();
        if (tag.bytesAt(position, 1)[0] == 0) {
            if (!allZero(tag.bytesAt(position, end - position)))
                return std::nullopt;
            break;
        }
        if (end - position < headerLength)
            return std::nullopt;
        ByteReader frame(tag.bytesAt(position, headerLength));
        const auto id = frame.bytes(idLength);
        std::uint32_t frameSize;
        if (version == 2) {
            frameSize = frame.u24be();
        } else if (version == 3) {
            frameSize = frame.u32be();
        } else {
            const auto value = Id3v2::synchsafe(frame.u32be());
            if (!value)
                return std::nullopt;
            frameSize = *value;
        }
        if (frameSize < 1 || frameSize > end - position - headerLength)
            return std::nullopt;
        // Flagged frames may be compressed, encrypted, grouped or unsynchronised: not read.
        const bool flagged = version != 2 && frame.u16be() != 0;
        const bool isStandard = std::memcmp(id.data(), standardId, idLength) == 0;
        const bool isUserText = std::memcmp(id.data(), userTextId, idLength) == 0;
        if (!flagged && (isStandard || isUserText)) {
            if (const auto text = Id3Text::decode(tag.bytesAt(position + headerLength, frameSize)))
                isStandard ? takeStandard(*text, found) : takePrecise(*text, found);
        }
        position += headerLength + frameSize;
    }
    return found;
}

std::optional<double> inForce(const StoredTempo &values, bool pairedOnly)
{
    if (!values.standard)
        return std::nullopt;
    const double standard = *values.standard;
    if (values.precise) {
        if (TempoModel::agrees(*values.precise, standard))
            return values.precise;
    } else if (pairedOnly) {
        return std::nullopt;
    }
    return standard > 0 ? std::optional<double>(standard) : std::nullopt;
}

std::optional<double> readTag(std::span<const std::uint8_t> tag, bool pairedOnly)
{
    return readOrNone([tag, pairedOnly] {
        const auto values = tagValues(tag);
        return values ? inForce(*values, pairedOnly) : std::nullopt;
    });
}

std::optional<double> readTag(const QByteArray &tag, bool pairedOnly)
{
    return readTag(std::span(reinterpret_cast<const std::uint8_t *>(tag.constData()), static_cast<size_t>(tag.size())),
                   pairedOnly);
}

std::optional<double> read(const FileHandle &file, bool pairedOnly)
{
    return readOrNone([&file, pairedOnly]() -> std::optional<double> {
        const auto container = ChunkFile::container(file);
        if (!container)
            return std::nullopt;
        std::uint64_t offset = 12;
        for (int examined = 0;; ++examined) {
            CurrentCancellation::throwIfCancelled();
            if (container->end < offset + 8 || examined >= maximumChunks)
                return std::nullopt;
            const auto chunk = ChunkFile::header(file, offset, container->littleEndian);
            if (!chunk || chunk->size > container->end - offset - 8)
                return std::nullopt;
            if (isTagChunk(chunk->id) && chunk->size <= maximumTagSize) {
                const QByteArray payload = file.preadUpTo(static_cast<qint64>(offset + 8), static_cast<qint64>(chunk->size));
                if (payload.size() == static_cast<qsizetype>(chunk->size)) {
                    if (const auto tempo = readTag(payload, pairedOnly))
                        return tempo;
                }
            }
            offset = chunk->next(offset);
        }
    });
}

std::optional<double> read(const QString &path, bool pairedOnly)
{
    return readOrNone([&path, pairedOnly] { return read(FileHandle::openOutside(path), pairedOnly); });
}

} // namespace tampod::ContainerTempoReader
