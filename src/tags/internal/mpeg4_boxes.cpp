#include "tags/internal/mpeg4_boxes.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "tags/tempo_write_error.h"

namespace tampod::Mpeg4Boxes {

namespace {

[[noreturn]] void refuse()
{
    throw TempoWriteError(TempoWriteError::Reason::tempoMetadata);
}

} // namespace

Moov loadMoov(const FileHandle &file)
{
    const auto end = static_cast<std::uint64_t>(file.size());
    std::uint64_t offset = 0;
    for (int passed = 0;; ++passed) {
        CurrentCancellation::throwIfCancelled();
        if (offset + 8 > end || passed > maximumBoxesBeforeMoov)
            refuse();
        const QByteArray header = file.preadUpTo(static_cast<qint64>(offset), 8);
        if (header.size() < 8)
            refuse();
        std::uint64_t size = ByteReader(header).u32beAt(0);
        const bool sizeToEnd = size == 0;
        std::uint64_t headerLength = 8;
        if (sizeToEnd) {
            size = end - offset;
        } else if (size == 1) {
            const QByteArray large = file.preadUpTo(static_cast<qint64>(offset + 8), 8);
            if (large.size() < 8)
                refuse();
            size = ByteReader(large).u64be();
            if (size < 16)
                refuse();
            headerLength = 16;
        } else if (size < 8) {
            refuse();
        }
        if (size > end - offset)
            refuse();
        if (header.mid(4, 4) != "moov") {
            offset += size;
            continue;
        }
        if (size > maximumMoovSize)
            refuse();
        const auto bodyLength = static_cast<qint64>(size - headerLength);
        QByteArray body = file.preadUpTo(static_cast<qint64>(offset + headerLength), bodyLength);
        if (body.size() < bodyLength)
            refuse();
        return {offset, size, sizeToEnd, std::move(body)};
    }
}

QList<Box> boxes(const QByteArray &data)
{
    QList<Box> list;
    const ByteReader reader(data);
    qsizetype offset = 0;
    while (offset < data.size()) {
        const qsizetype remaining = data.size() - offset;
        if (remaining < 8 || list.size() >= maximumChildren)
            refuse();
        const std::uint32_t size = reader.u32beAt(static_cast<size_t>(offset));
        if (size < 8 || size > static_cast<std::uint64_t>(remaining))
            refuse();
        const auto length = static_cast<qsizetype>(size);
        list.append({data.mid(offset + 4, 4), offset, length, data.mid(offset + 8, length - 8)});
        offset += length;
    }
    return list;
}

QByteArray box(const QByteArray &name, const QByteArray &body)
{
    ByteWriter out;
    out.u32be(static_cast<std::uint32_t>(body.size() + 8)).bytes(name).bytes(body);
    return out.take();
}

const Box *child(const QList<Box> &list, const char *name)
{
    for (const Box &candidate : list) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

} // namespace tampod::Mpeg4Boxes
