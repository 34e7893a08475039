#include "tags/mp3_tempo_metadata.h"

#include "core/id3v2_header.h"
#include "tags/container_tempo_reader.h"
#include "tags/read_or_none.h"

namespace tampod::MP3TempoMetadata {

std::optional<double> read(const FileHandle &file)
{
    return readOrNone([&file]() -> std::optional<double> {
        const auto header = Id3v2::header(file.preadUpTo(0, Id3v2::headerLength));
        if (!header || header->size > ContainerTempoReader::maximumTagSize)
            return std::nullopt;
        const qint64 length = Id3v2::headerLength + qint64(header->size);
        const QByteArray tag = file.preadUpTo(0, length);
        if (tag.size() != length)
            return std::nullopt;
        return ContainerTempoReader::readTag(tag, false);
    });
}

std::optional<double> read(const QString &path)
{
    return readOrNone([&path] { return read(FileHandle::openOutside(path)); });
}

} // namespace tampod::MP3TempoMetadata
