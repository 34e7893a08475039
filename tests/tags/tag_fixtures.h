#pragma once

// Builders of ID3v2 tags and RIFF/FORM files for the tag tests.
#include "core/byte_reader.h"

#include <QByteArray>
#include <QList>

#include <optional>
#include <utility>

namespace tampod::test::tags {

inline void synchsafe(ByteWriter &out, std::uint32_t value)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        out.u8(static_cast<std::uint8_t>(value >> shift & 0x7F));
}

// Version 2.2: 3-byte ids and sizes; 2.3: plain 32-bit sizes; 2.4: synchsafe sizes.
inline QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, std::uint16_t flags = 0)
{
    ByteWriter out;
    out.bytes(id);
    const auto size = static_cast<std::uint32_t>(payload.size());
    if (version == 2) {
        out.u8(static_cast<std::uint8_t>(size >> 16)).u16be(static_cast<std::uint16_t>(size));
    } else {
        version == 4 ? synchsafe(out, size) : void(out.u32be(size));
        out.u16be(flags);
    }
    return out.bytes(payload).take();
}

inline QByteArray tag(int version, const QByteArray &body, std::uint8_t flags = 0)
{
    ByteWriter out;
    out.bytes("ID3").u8(static_cast<std::uint8_t>(version)).u8(0).u8(flags);
    synchsafe(out, static_cast<std::uint32_t>(body.size()));
    return out.bytes(body).take();
}

inline QByteArray text(const QByteArray &value) { return QByteArray(1, '\0') + value; }
inline QByteArray userText(const QByteArray &description, const QByteArray &value)
{
    return text(description) + QByteArray(1, '\0') + value;
}

// A version 2.3 tag with a TBPM and a "tamPOD_BPM" TXXX, either left out when absent.
inline QByteArray tempoTag(std::optional<QByteArray> standard, std::optional<QByteArray> precise)
{
    QByteArray frames;
    if (standard)
        frames += frame(3, "TBPM", text(*standard));
    if (precise)
        frames += frame(3, "TXXX", userText("tamPOD_BPM", *precise));
    return tag(3, frames);
}

using Chunk = std::pair<QByteArray, QByteArray>; // identifier, data

inline QByteArray chunks(const QList<Chunk> &list, bool littleEndian)
{
    ByteWriter out;
    for (const auto &[id, data] : list) {
        out.bytes(id);
        littleEndian ? out.u32le(static_cast<std::uint32_t>(data.size())) : out.u32be(static_cast<std::uint32_t>(data.size()));
        out.bytes(data).zeros(data.size() % 2);
    }
    return out.take();
}

// The declared size defaults to the file's length − 8.
inline QByteArray riff(const QList<Chunk> &list, std::optional<std::uint32_t> declared = std::nullopt,
                       const QByteArray &magic = "RIFF", const QByteArray &form = "WAVE")
{
    const QByteArray body = form + chunks(list, true);
    ByteWriter out;
    out.bytes(magic).u32le(declared.value_or(static_cast<std::uint32_t>(body.size())));
    return out.bytes(body).take();
}

inline QByteArray form(const QList<Chunk> &list, const QByteArray &type = "AIFF")
{
    const QByteArray body = type + chunks(list, false);
    ByteWriter out;
    out.bytes("FORM").u32be(static_cast<std::uint32_t>(body.size()));
    return out.bytes(body).take();
}

inline QByteArray info(const QList<Chunk> &entries, const QByteArray &type = "INFO")
{
    return type + chunks(entries, true);
}

inline QByteArray acid(float tempo)
{
    ByteWriter out;
    out.u32le(1).zeros(16).f32le(tempo);
    return out.take();
}

} // namespace tampod::test::tags
