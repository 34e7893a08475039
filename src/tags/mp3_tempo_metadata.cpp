#include "tags/mp3_tempo_metadata.h"

#include "tags/container_tempo_reader.h"
#include "tags/internal/tag_file.h"

namespace tampod::MP3TempoMetadata {

std::optional<double> read(const QString &path)
{
    auto file = TagFile::openForReading(path);
    if (!file)
        return std::nullopt;
    try {
        QByteArray tag = file->readUpTo(10);
        if (tag.size() < 10 || !tag.startsWith("ID3"))
            return std::nullopt;
        std::uint32_t size = 0;
        for (int i = 6; i < 10; ++i) {
            const auto byte = static_cast<std::uint8_t>(tag[i]);
            if (byte >= 0x80)
                return std::nullopt;
            size = size << 7 | byte;
        }
        if (size > ContainerTempoReader::maximumTagSize)
            return std::nullopt;
        const QByteArray body = file->readUpTo(size);
        if (body.size() != static_cast<qsizetype>(size))
            return std::nullopt;
        tag += body;
        return ContainerTempoReader::readTag(tag, false);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace tampod::MP3TempoMetadata
