#pragma once

#include "core/file_handle.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

// The framing shared by the RIFF/WAVE and FORM/AIFF chunk walks.
namespace tampod::ChunkFile {

struct Container {
    bool littleEndian; // RIFF; FORM sizes are big-endian
    std::uint64_t end; // the declared container end, cut at the file's end
};

struct ChunkHeader {
    QByteArray id;
    std::uint64_t size;
    // Where the next chunk starts: after the data and the pad byte of an odd size.
    std::uint64_t next(std::uint64_t offset) const { return offset + 8 + size + (size & 1); }
};

// The container of a RIFF/WAVE, FORM/AIFF or FORM/AIFC file (exact identifiers); nullopt for
// anything else. Throws on I/O errors.
std::optional<Container> container(const FileHandle &file);

// The 8-byte chunk header at offset; nullopt when fewer than 8 bytes remain. Throws on errors.
std::optional<ChunkHeader> header(const FileHandle &file, std::uint64_t offset, bool littleEndian);

} // namespace tampod::ChunkFile
