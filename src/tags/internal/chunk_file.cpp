#include "tags/internal/chunk_file.h"

#include "core/byte_reader.h"

#include <algorithm>

namespace tampod::ChunkFile {

std::optional<Container> container(const FileHandle &file)
{
    const auto length = static_cast<std::uint64_t>(file.size());
    const QByteArray header = file.preadUpTo(0, 12);
    if (header.size() < 12)
        return std::nullopt;
    const QByteArray magic = header.left(4), form = header.mid(8, 4);
    bool littleEndian;
    if (magic == "RIFF" && form == "WAVE")
        littleEndian = true;
    else if (magic == "FORM" && (form == "AIFF" || form == "AIFC"))
        littleEndian = false;
    else
        return std::nullopt;
    const ByteReader bytes(header);
    const std::uint64_t declared = littleEndian ? bytes.u32leAt(4) : bytes.u32beAt(4);
    return Container{littleEndian, std::min(declared + 8, length)};
}

std::optional<ChunkHeader> header(const FileHandle &file, std::uint64_t offset, bool littleEndian)
{
    const QByteArray bytes = file.preadUpTo(static_cast<qint64>(offset), 8);
    if (bytes.size() < 8)
        return std::nullopt;
    const ByteReader reader(bytes);
    return ChunkHeader{bytes.left(4), littleEndian ? reader.u32leAt(4) : reader.u32beAt(4)};
}

} // namespace tampod::ChunkFile
