#pragma once

// Builders and a parser of FLAC metadata heads for the tag tests.
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
    out.u32le(static_cast<std::uint32_t>(vendor.size())).bytes(vendor).u32le(static_cast<std::uint32_t>(list.size()));
    for (const QByteArray &comment : list)
        out.u32le(static_cast<std::uint32_t>(comment.size())).bytes(comment);
    return out.take();
}

inline QByteArray streamInfo(std::uint32_t rate, int channels, int bits)
{
    ByteWriter out;
    out.u16be(4096).u16be(4096).zeros(6);
    out.u64be(std::uint64_t(rate) << 44 | std::uint64_t(channels - 1) << 41 | std::uint64_t(bits - 1) << 36 | 1000);
    out.zeros(16);
    return out.take();
}

// The last flag goes on the final block unless a block says otherwise.
inline QByteArray file(const QList<Block> &blocks, const QByteArray &audio = "audio frames")
{
    ByteWriter out;
    out.bytes("fLaC");
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const bool last = blocks[i].last || i == blocks.size() - 1;
        out.u8(static_cast<std::uint8_t>(blocks[i].kind | (last ? 0x80 : 0)));
        out.u8(static_cast<std::uint8_t>(blocks[i].body.size() >> 16)).u16be(static_cast<std::uint16_t>(blocks[i].body.size()));
        out.bytes(blocks[i].body);
    }
    return out.bytes(audio).take();
}

inline QByteArray withComments(const QList<QByteArray> &list, const QByteArray &audio = "audio frames")
{
    return file({{0, streamInfo(44100, 2, 16)}, {4, comments(list)}}, audio);
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
    for (;;) {
        const std::uint8_t first = in.u8();
        const std::uint32_t length = in.u24be();
        parsed.blocks.append({static_cast<std::uint8_t>(first & 0x7F), in.byteArray(length), (first & 0x80) != 0});
        if (first & 0x80)
            break;
    }
    parsed.audio = bytes.mid(static_cast<qsizetype>(in.position()));
    return parsed;
}

struct Comments {
    QByteArray vendor;
    QList<QByteArray> list;
};

inline Comments parseComments(const QByteArray &body)
{
    Comments result;
    ByteReader in(body);
    result.vendor = in.byteArray(in.u32le());
    for (std::uint32_t count = in.u32le(); count > 0; --count)
        result.list.append(in.byteArray(in.u32le()));
    return result;
}

} // namespace tampod::test::flac
