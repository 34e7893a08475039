#pragma once

// Private to the platform module.

#include "platform/decode/internal/ogg/ogg_audio_info.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tampod {
class FileHandle;
}

namespace tampod::oggaudio {

constexpr int64_t pageHeaderBytes = 27;
// An Ogg page holds at most this much.
constexpr int64_t maximumPageBytes = pageHeaderBytes + 255 + 255 * 255;
constexpr uint8_t continuedFlag = 1, firstFlag = 2, lastFlag = 4;

inline uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Page {
    int64_t offset = 0;
    uint8_t flags = 0;
    int64_t granule = -1; // -1: no packet ends on the page
    uint32_t serial = 0;
    std::vector<uint8_t> lacing;
    int64_t bodySize = 0;

    int64_t headerSize() const { return pageHeaderBytes + int64_t(lacing.size()); }
    int64_t end() const { return offset + headerSize() + bodySize; }
    bool endsPacket() const { return !lacing.empty() && lacing.back() < 255; }
};

// The page header at the front of bytes, found at offset in the file; its body is not looked at.
std::optional<Page> pageHeader(std::span<const uint8_t> bytes, int64_t offset);

// The parts of packets a page holds, in order: where each starts in the body and whether it
// ends here.
struct Piece {
    int64_t at = 0;
    int64_t size = 0;
    bool ends = false;
};

std::vector<Piece> piecesOf(const Page &page);

// Pages read through one window of the file at a time.
class PageFile {
public:
    // window: the bytes read at a time; large for a walk through every page, small for a
    // bisection that reads a page here and there.
    PageFile(const FileHandle &file, int64_t fileSize, int64_t window = int64_t(1) << 18)
        : file_(file), fileSize_(fileSize), windowBytes_(window)
    {
    }

    int64_t fileSize() const { return fileSize_; }
    std::optional<Page> header(int64_t offset);
    // The whole page, its checksum verified; empty when it is cut short or damaged.
    std::span<const uint8_t> whole(const Page &page);
    // The first intact page (its checksum holds) that starts at or after from and before limit:
    // how a reader finds its way back into the pages after damage or from the middle of a file.
    std::optional<Page> next(int64_t from, int64_t limit);

private:
    bool holds(int64_t offset, int64_t size) const
    {
        return offset >= windowStart_ && offset + size <= windowStart_ + window_.size();
    }
    void load(int64_t offset, int64_t size);
    std::span<const uint8_t> view(int64_t offset) const;

    const FileHandle &file_;
    const int64_t fileSize_;
    const int64_t windowBytes_;
    QByteArray window_;
    int64_t windowStart_ = 0;
};

// The last intact page that starts at or after from: where the Ogg data ends, whatever bytes
// (a tag, padding) follow it. Reads the file backwards from its end, a page's size at a time.
std::optional<Page> lastPage(PageFile &pages, int64_t from);

// The stream's identification, its Vorbis setup, and where its audio begins.
struct Head {
    Stream stream;
    uint32_t serial = 0;
    int preSkip = 0;
    QByteArray id, setup;
    int64_t firstAudioOffset = 0;
};

// The same checks the demuxer makes of the identification header, so a stream it refuses is
// never described here.
bool readIdentification(const QByteArray &id, Head &head);
// The headers of the plain stream whose first page is at start; nullopt where they are not the
// headers of one Vorbis or Opus stream, each on pages of its own.
std::optional<Head> readHead(PageFile &pages, int64_t start);

} // namespace tampod::oggaudio
