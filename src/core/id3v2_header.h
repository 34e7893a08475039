#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>

// The 10-byte header that opens an ID3v2 tag: "ID3", the version, the flags and the synchsafe
// size. Shared by the tag readers and the demuxer probe, which skips tags before the audio.
namespace tampod::Id3v2 {

inline constexpr int headerLength = 10;

struct Header {
    std::uint8_t version = 0;  // the major version: 2, 3 or 4 for the tags we read
    std::uint8_t revision = 0;
    std::uint8_t flags = 0;
    std::uint32_t size = 0;    // the bytes after the header, a footer left out

    // Only version 2.4 has a footer: in earlier versions the bit means nothing, and readers
    // (ffmpeg's among them) take the tag to end where its size says.
    bool hasFooter() const noexcept { return version >= 4 && (flags & 0x10) != 0; }
    // The header, the body and the footer when flagged.
    std::uint64_t tagLength() const noexcept { return headerLength + std::uint64_t(size) + (hasFooter() ? 10 : 0); }
};

// The header at the start of bytes; none when fewer than 10 bytes, no "ID3" or a size byte
// with its top bit set. Version and flags are left for the caller to judge.
std::optional<Header> header(std::span<const std::uint8_t> bytes);
std::optional<Header> header(const QByteArray &bytes);

// A 28-bit number kept in four 7-bit groups (sizes of the header and of version 2.4 frames);
// none when a group has its top bit set.
std::optional<std::uint32_t> synchsafe(std::uint32_t field);

} // namespace tampod::Id3v2
