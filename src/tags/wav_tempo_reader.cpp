#include "tags/wav_tempo_reader.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "tags/internal/tag_file.h"
#include "tags/internal/tempo_text.h"
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
// the list data). A malformed entry abandons only this list; I/O errors are thrown.
std::optional<double> readInfo(const FileHandle &file, std::uint64_t start, std::uint64_t end, int &visited)
{
    std::uint64_t position = start;
    while (true) {
        if (end < position + 8 || visited >= maximumVisits || CurrentCancellation::isCancelled())
            return std::nullopt;
        ++visited;
        const QByteArray header = file.preadUpTo(static_cast<qint64>(position), 8);
        if (header.size() < 8)
            return std::nullopt;
        const std::uint64_t size = ByteReader(header).u32leAt(4);
        if (size + (size & 1) > end - position - 8)
            return std::nullopt;
        if (header.startsWith("IBPM") && size >= 1 && size <= 256) {
            const QByteArray text = file.preadUpTo(static_cast<qint64>(position + 8), static_cast<qint64>(size));
            if (text.size() == static_cast<qsizetype>(size)) {
                if (const auto tempo = tempoText(text))
                    return tempo;
            }
        }
        position += 8 + size + (size & 1);
    }
}

} // namespace

std::optional<double> read(const QString &path, bool infoOnly)
{
    auto file = TagFile::openForReading(path);
    if (!file)
        return std::nullopt;
    try {
        const std::uint64_t length = static_cast<std::uint64_t>(file->seekToEnd());
        const QByteArray header = file->preadUpTo(0, 12);
        if (header.size() < 12 || !header.startsWith("RIFF") || header.mid(8, 4) != "WAVE")
            return std::nullopt;
        const std::uint64_t riffEnd = std::min<std::uint64_t>(ByteReader(header).u32leAt(4) + 8ull, length);
        std::uint64_t offset = 12;
        int visited = 0;
        while (true) {
            if (riffEnd < offset + 8 || visited >= maximumVisits || CurrentCancellation::isCancelled())
                return std::nullopt;
            ++visited;
            const QByteArray chunk = file->preadUpTo(static_cast<qint64>(offset), 8);
            if (chunk.size() < 8)
                return std::nullopt;
            const std::uint64_t size = ByteReader(chunk).u32leAt(4);
            if (size > riffEnd - offset - 8)
                return std::nullopt;
            if (!infoOnly && chunk.startsWith("acid") && size >= 24) {
                const QByteArray field = file->preadUpTo(static_cast<qint64>(offset + 28), 4);
                if (field.size() < 4)
                    return std::nullopt;
                const double tempo = ByteReader(field).f32le();
                return TempoModel::isUsable(tempo) ? std::optional<double>(tempo) : std::nullopt;
            }
            if (infoOnly && chunk.startsWith("LIST") && size >= 4) {
                const QByteArray type = file->preadUpTo(static_cast<qint64>(offset + 8), 4);
                if (type == "INFO") {
                    if (const auto tempo = readInfo(*file, offset + 12, offset + 8 + size, visited))
                        return tempo;
                }
            }
            offset += 8 + size + (size & 1);
        }
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tampod::WAVTempoReader
