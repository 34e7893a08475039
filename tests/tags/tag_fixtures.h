#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

// Builders of ID3v2 tags and RIFF/FORM files for the tag tests.
namespace tampod::test::tags {

// An ID3v2 frame: 2.2 has 3-byte ids and sizes; 2.3 plain and 2.4 synchsafe 32-bit sizes.
QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, std::uint16_t flags = 0);
// A tag around the given body (frames, padding, an extended header), with its synchsafe size.
QByteArray tag(int version, const QByteArray &body, std::uint8_t flags = 0);
// Text payloads in ISO-8859-1: TBPM "\0text", TXXX "\0description\0value".
QByteArray text(const QByteArray &value);
QByteArray userText(const QByteArray &description, const QByteArray &value);
// A version 2.3 tag with a TBPM and a "tamPOD_BPM" TXXX (either may be left out).
QByteArray tempoTag(std::optional<QByteArray> standard, std::optional<QByteArray> precise);

using Chunk = std::pair<QByteArray, QByteArray>; // identifier, data
// A chunk with its size in the container's byte order, padded to even length.
QByteArray chunk(const QByteArray &id, const QByteArray &data, bool littleEndian = true);
// "RIFF" size "WAVE" (or another magic/form) and the chunks; declared defaults to length − 8.
QByteArray riff(const QList<Chunk> &chunks, std::optional<std::uint32_t> declared = std::nullopt,
                const QByteArray &magic = "RIFF", const QByteArray &form = "WAVE");
QByteArray form(const QList<Chunk> &chunks, const QByteArray &type = "AIFF");
// A LIST chunk's data: the list type and its sub-chunks.
QByteArray list(const QByteArray &type, const QList<Chunk> &entries);
// The 24-byte "acid" data with the given tempo field.
QByteArray acid(float tempo);

} // namespace tampod::test::tags
