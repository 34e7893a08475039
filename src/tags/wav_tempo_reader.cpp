#include "tags/wav_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "tags/internal/chunk_file.h"
#include "tags/internal/tempo_text.h"
#include "tags/read_or_none.h"
#include "tags/tempo_model.h"

#include <algorithm>

namespace tampod::WAVTempoReader {

namespace {

std::optional<double> tempoText(const QByteArray &bytes)
{
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return std::nullopt; // not ASCII
    const QString text = TempoText::trimmed(QString::fromLatin1(bytes));
    if (text.contains(QChar(0)))
        return std::nullopt;
    const auto value = TempoModel::parse(text);
    return value && TempoModel::isUsable(*value) ? value : std::nullopt;
}

// The first usable IBPM of one INFO list, from start (after the list type) to end (the end of
// the list data). A malformed entry abandons only this list; I/O errors and Cancelled are thrown.
std::optional<double> readInfo(const FileHandle &file, std::uint64_t start, std::uint64_t end, int &visited)
{
    std::uint64_t position = start;
    while (true) {
        CurrentCancellation::throwIfCancelled();
        if (end < position + 8 || visited >= maximumVisits)
            return std::nullopt;
        ++visited;
        const auto entry = ChunkFile::header(file, position, true);
        if (!entry || entry->size + (entry->size & 1) > end - position - 8)
            return std::nullopt;
        if (entry->id == "IBPM" && entry->size >= 1 && entry->size <= 256) {
            const QByteArray text = file.preadUpTo(static_cast<qint64>(position + 8), static_cast<qint64>(entry->size));
            if (text.size() == static_cast<qsizetype>(entry->size)) {
                if (const auto tempo = tempoText(text))
                    return tempo;
            }
        }
        position = entry->next(position);
    }
}

} // namespace

std::optional<double> read(const FileHandle &file, bool infoOnly)
{
    return readOrNone([&file, infoOnly]() -> std::optional<double> {
        const auto container = ChunkFile::container(file);
        if (!container || !container->littleEndian)
            return std::nullopt; // RIFF/WAVE only
        std::uint64_t offset = 12;
        int visited = 0;
        while (true) {
            CurrentCancellation::throwIfCancelled();
            if (container->end < offset + 8 || visited >= maximumVisits)
                return std::nullopt;
            ++visited;
            const auto chunk = ChunkFile::header(file, offset, true);
            if (!chunk || chunk->size > container->end - offset - 8)
                return std::nullopt;
            if (!infoOnly && chunk->id == "acid" && chunk->size >= 24) {
                const QByteArray field = file.preadUpTo(static_cast<qint64>(offset + 28), 4);
                if (field.size() < 4)
                    return std::nullopt;
                const double tempo = ByteReader(field).f32le();
                return TempoModel::isUsable(tempo) ? std::optional<double>(tempo) : std::nullopt;
            }
            if (infoOnly && chunk->id == "LIST" && chunk->size >= 4
                && file.preadUpTo(static_cast<qint64>(offset + 8), 4) == "INFO") {
                if (const auto tempo = readInfo(file, offset + 12, offset + 8 + chunk->size, visited))
                    return tempo;
            }
            offset = chunk->next(offset);
        }
    });
}

std::optional<double> read(const QString &path, bool infoOnly)
{
    return readOrNone([&path, infoOnly] { return read(FileHandle::openOutside(path), infoOnly); });
}

} // namespace tampod::WAVTempoReader
