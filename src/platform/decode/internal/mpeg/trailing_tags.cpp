#include "platform/decode/internal/mpeg/trailing_tags.h"

#include "core/byte_reader.h"
#include "core/file_handle.h"

#include <QByteArray>

namespace tampod::trailingtags {

namespace {

constexpr int64_t id3v1Bytes = 128;
constexpr int64_t apeFooterBytes = 32;
constexpr int64_t lyrics3FooterBytes = 15;

// Where an APE tag whose footer ends at end begins; end where there is none.
int64_t apeStart(const FileHandle &file, int64_t start, int64_t end)
{
    if (end - start < apeFooterBytes)
        return end;
    const QByteArray footer = file.preadUpTo(end - apeFooterBytes, apeFooterBytes);
    if (footer.size() != apeFooterBytes || !footer.startsWith("APETAGEX"))
        return end;
    const ByteReader fields(footer);
    const int64_t size = fields.u32leAt(12); // items and footer
    const uint32_t flags = fields.u32leAt(20);
    const bool hasHeader = flags & 0x80000000u;
    if ((flags & 0x20000000u) || size < apeFooterBytes)
        return end; // a header where a footer belongs
    const int64_t tagStart = end - size - (hasHeader ? apeFooterBytes : 0);
    if (tagStart < start)
        return end;
    if (hasHeader && !file.preadUpTo(tagStart, 8).startsWith("APETAGEX"))
        return end;
    return tagStart;
}

int64_t id3v1Start(const FileHandle &file, int64_t start, int64_t end)
{
    if (end - start < id3v1Bytes || !file.preadUpTo(end - id3v1Bytes, 3).startsWith("TAG"))
        return end;
    return end - id3v1Bytes;
}

// Where a Lyrics3 v2 tag that ends at end (where an ID3v1 tag begins) begins; end where there
// is none: its last 15 bytes are its size in six digits and "LYRICS200", and it opens with
// "LYRICSBEGIN".
int64_t lyrics3Start(const FileHandle &file, int64_t start, int64_t end)
{
    if (end - start < lyrics3FooterBytes + 11)
        return end;
    const QByteArray footer = file.preadUpTo(end - lyrics3FooterBytes, lyrics3FooterBytes);
    if (footer.size() != lyrics3FooterBytes || !footer.endsWith("LYRICS200"))
        return end;
    int64_t size = 0;
    for (int i = 0; i < 6; ++i) {
        if (footer[i] < '0' || footer[i] > '9')
            return end;
        size = size * 10 + (footer[i] - '0');
    }
    const int64_t tagStart = end - lyrics3FooterBytes - size;
    if (size < 11 || tagStart < start || !file.preadUpTo(tagStart, 11).startsWith("LYRICSBEGIN"))
        return end;
    return tagStart;
}

} // namespace

std::vector<int64_t> possibleEnds(const FileHandle &file, int64_t start, int64_t fileSize)
{
    std::vector<int64_t> ends{fileSize};
    // APE before ID3v1 is the usual order; a tagger may have written them the other way. A
    // Lyrics3 tag comes just before an ID3v1 tag, an APE tag perhaps before it.
    for (int i = 0; i < 4; ++i) {
        const int64_t end = ends.back();
        const bool id3v1 = i % 2 == 0;
        int64_t tagStart = id3v1 ? id3v1Start(file, start, end) : apeStart(file, start, end);
        if (id3v1 && tagStart != end) {
            ends.push_back(tagStart);
            tagStart = lyrics3Start(file, start, tagStart);
        }
        if (tagStart != ends.back())
            ends.push_back(tagStart);
    }
    return ends;
}

int64_t audioEnd(const FileHandle &file, int64_t start, int64_t fileSize)
{
    return possibleEnds(file, start, fileSize).back();
}

} // namespace tampod::trailingtags
