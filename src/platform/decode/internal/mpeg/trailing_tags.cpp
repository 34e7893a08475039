#include "platform/decode/internal/mpeg/trailing_tags.h"

#include "core/byte_reader.h"
#include "core/file_handle.h"

#include <QByteArray>

namespace tampod::trailingtags {

namespace {

constexpr int64_t id3v1Bytes = 128;
constexpr int64_t apeFooterBytes = 32;

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

} // namespace

std::vector<int64_t> possibleEnds(const FileHandle &file, int64_t start, int64_t fileSize)
{
    std::vector<int64_t> ends{fileSize};
    // APE before ID3v1 is the usual order; a tagger may have written them the other way.
    for (int i = 0; i < 4; ++i) {
        const int64_t end = ends.back();
        const int64_t tagStart = i % 2 == 0 ? id3v1Start(file, start, end) : apeStart(file, start, end);
        if (tagStart != end)
            ends.push_back(tagStart);
    }
    return ends;
}

int64_t audioEnd(const FileHandle &file, int64_t start, int64_t fileSize)
{
    return possibleEnds(file, start, fileSize).back();
}

} // namespace tampod::trailingtags
