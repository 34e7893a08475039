#pragma once

#include "core/file_handle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The framing shared by the RIFF/WAVE and FORM/AIFF chunk walks.
namespace tampod::ChunkFile {

struct Container {
    FileHandle file;
    bool littleEndian; // RIFF; FORM sizes are big-endian
    std::uint64_t end; // the declared container end, cut at the file's end
};

struct ChunkHeader {
    QByteArray id;
    std::uint64_t size;
    // Where the next chunk starts: after the data and the pad byte of an odd size.
    std::uint64_t next(std::uint64_t offset) const { return offset + 8 + size + (size & 1); }
};

// Opens a RIFF/WAVE, FORM/AIFF or FORM/AIFC file (exact identifiers); nullopt for anything
// else or a file that cannot be opened. I/O errors after opening are thrown.
std::optional<Container> open(const QString &path);

// The 8-byte chunk header at offset; nullopt when fewer than 8 bytes remain. Throws on errors.
std::optional<ChunkHeader> header(const FileHandle &file, std::uint64_t offset, bool littleEndian);

} // namespace tampod::ChunkFile
