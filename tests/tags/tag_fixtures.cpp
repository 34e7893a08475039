#include "tag_fixtures.h"

#include "core/byte_reader.h"

namespace tampod::test::tags {

namespace {
void synchsafe(ByteWriter &out, std::uint32_t value)
{
    for (int shift = 21; shift >= 0; shift -= 7)
        out.u8(static_cast<std::uint8_t>(value >> shift & 0x7F));
}
} // namespace

QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, std::uint16_t flags)
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

QByteArray tag(int version, const QByteArray &body, std::uint8_t flags)
{
    ByteWriter out;
    out.bytes("ID3").u8(static_cast<std::uint8_t>(version)).u8(0).u8(flags);
    synchsafe(out, static_cast<std::uint32_t>(body.size()));
    return out.bytes(body).take();
}

QByteArray text(const QByteArray &value)
{
    return QByteArray(1, '\0') + value;
}

QByteArray userText(const QByteArray &description, const QByteArray &value)
{
    return QByteArray(1, '\0') + description + QByteArray(1, '\0') + value;
}

QByteArray tempoTag(std::optional<QByteArray> standard, std::optional<QByteArray> precise)
{
    QByteArray frames;
    if (standard)
        frames += frame(3, "TBPM", text(*standard));
    if (precise)
        frames += frame(3, "TXXX", userText("tamPOD_BPM", *precise));
    return tag(3, frames);
}

QByteArray chunk(const QByteArray &id, const QByteArray &data, bool littleEndian)
{
    ByteWriter out;
    out.bytes(id);
    const auto size = static_cast<std::uint32_t>(data.size());
    littleEndian ? out.u32le(size) : out.u32be(size);
    out.bytes(data);
    if (data.size() % 2)
        out.u8(0);
    return out.take();
}

QByteArray riff(const QList<Chunk> &chunks, std::optional<std::uint32_t> declared,
                const QByteArray &magic, const QByteArray &form)
{
    QByteArray body = form;
    for (const auto &[id, data] : chunks)
        body += chunk(id, data, true);
    ByteWriter out;
    out.bytes(magic).u32le(declared.value_or(static_cast<std::uint32_t>(body.size())));
    return out.bytes(body).take();
}

QByteArray form(const QList<Chunk> &chunks, const QByteArray &type)
{
    QByteArray body = type;
    for (const auto &[id, data] : chunks)
        body += chunk(id, data, false);
    ByteWriter out;
    out.bytes("FORM").u32be(static_cast<std::uint32_t>(body.size()));
    return out.bytes(body).take();
}

QByteArray list(const QByteArray &type, const QList<Chunk> &entries)
{
    QByteArray data = type;
    for (const auto &[id, entry] : entries)
        data += chunk(id, entry, true);
    return data;
}

QByteArray acid(float tempo)
{
    ByteWriter out;
    out.u32le(1).zeros(16).f32le(tempo);
    return out.take();
}

} // namespace tampod::test::tags
