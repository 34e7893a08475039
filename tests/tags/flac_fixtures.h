#pragma once

// Building and parsing FLAC metadata heads in the tag tests.
#include "core/byte_reader.h"

#include <QByteArray>
#include <QList>

namespace tampod::test::flac {

struct Block {
    std::uint8_t kind;
    QByteArray body;
    bool last = false;
    bool operator==(const Block &) const = default;
};

inline QByteArray comments(const QList<QByteArray> &list, const QByteArray &vendor = "reference libFLAC")
{
    ByteWriter out;
    out.u32le(std::uint32_t(vendor.size())).bytes(vendor).u32le(std::uint32_t(list.size()));
    for (const QByteArray &comment : list)
        out.u32le(std::uint32_t(comment.size())).bytes(comment);
    return out.take();
}

inline QByteArray streamInfo(std::uint32_t rate, int bits)
{
    ByteWriter out;
    out.zeros(10).u64be(std::uint64_t(rate) << 44 | std::uint64_t(1) << 41 | std::uint64_t(bits - 1) << 36).zeros(16);
    return out.take();
}

// The last flag goes on the final block.
inline QByteArray file(const QList<Block> &blocks, const QByteArray &audio = "audio frames")
{
    ByteWriter out;
    out.bytes("fLaC");
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const auto size = std::uint32_t(blocks[i].body.size());
        out.u8(std::uint8_t(blocks[i].kind | (i == blocks.size() - 1 ? 0x80 : 0))).u8(std::uint8_t(size >> 16));
        out.u16be(std::uint16_t(size)).bytes(blocks[i].body);
    }
    return out.bytes(audio).take();
}

struct Parsed {
    QList<Block> blocks;
    QByteArray audio;
};

inline Parsed parse(const QByteArray &bytes)
{
    Parsed parsed;
    ByteReader in(bytes);
    in.skip(4);
    for (bool last = false; !last;) {
        const std::uint8_t first = in.u8();
        last = first & 0x80;
        parsed.blocks.append({std::uint8_t(first & 0x7F), in.byteArray(in.u24be()), last});
    }
    parsed.audio = bytes.mid(qsizetype(in.position()));
    return parsed;
}

// The vendor followed by the comments.
inline QList<QByteArray> parseComments(const QByteArray &body)
{
    ByteReader in(body);
    QList<QByteArray> result{in.byteArray(in.u32le())};
    for (std::uint32_t count = in.u32le(); count > 0; --count)
        result.append(in.byteArray(in.u32le()));
    return result;
}

} // namespace tampod::test::flac
