#pragma once

// Builders of tagged files for the tag tests (ID3v2 tags, RIFF/FORM chunks, FLAC heads, MPEG-4
// boxes), and source files made once per suite by installed programs.
#include "core/byte_reader.h"
#include "tags/tempo_write_error.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <QFile>
#include <QList>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace tampod::test::tags {

// The reason a writer refused for, if it did.
template <typename Call>
std::optional<TempoWriteError::Reason> refusalOf(Call call)
{
    return caught<TempoWriteError>(call, [](const TempoWriteError &error) { return error.reason(); });
}

inline QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

// Version 2.2: 3-byte ids and sizes; 2.3: plain 32-bit sizes; 2.4: synchsafe sizes.
inline QByteArray frame(int version, const QByteArray &id, const QByteArray &payload, std::uint16_t flags = 0)
{
    const auto size = std::uint32_t(payload.size());
    ByteWriter out;
    out.bytes(id);
    if (version == 2)
        out.u8(std::uint8_t(size >> 16)).u16be(std::uint16_t(size));
    else
        out.u32be(version == 4 ? (size & 0x7F) | (size & 0x3F80) << 1 | (size & 0x1FC000) << 2 : size).u16be(flags);
    return out.bytes(payload).take();
}

inline QByteArray tag(int version, const QByteArray &body, std::uint8_t flags = 0)
{
    const auto size = std::uint32_t(body.size());
    ByteWriter out;
    out.bytes("ID3").u8(std::uint8_t(version)).u8(0).u8(flags);
    for (int shift = 21; shift >= 0; shift -= 7)
        out.u8(std::uint8_t(size >> shift & 0x7F));
    return out.bytes(body).take();
}

inline QByteArray text(const QByteArray &value) { return '\0' + value; }
inline QByteArray userText(const QByteArray &description, const QByteArray &value)
{
    return text(description) + '\0' + value;
}

// A version 2.3 tag with a TBPM and a "tamPOD_BPM" TXXX, either left out when absent.
inline QByteArray tempoTag(std::optional<QByteArray> standard, std::optional<QByteArray> precise)
{
    return tag(3, (standard ? frame(3, "TBPM", text(*standard)) : QByteArray())
                      + (precise ? frame(3, "TXXX", userText("tamPOD_BPM", *precise)) : QByteArray()));
}

using Chunk = std::pair<QByteArray, QByteArray>; // identifier, data

inline QByteArray chunks(const QList<Chunk> &list, bool littleEndian)
{
    ByteWriter out;
    for (const auto &[id, data] : list) {
        const auto size = std::uint32_t(data.size());
        littleEndian ? out.bytes(id).u32le(size) : out.bytes(id).u32be(size);
        out.bytes(data).zeros(size % 2);
    }
    return out.take();
}

// The declared size defaults to the file's length − 8.
inline QByteArray riff(const QList<Chunk> &list, std::optional<std::uint32_t> declared = std::nullopt,
                       const QByteArray &magic = "RIFF", const QByteArray &form = "WAVE")
{
    const QByteArray body = form + chunks(list, true);
    return ByteWriter().bytes(magic).u32le(declared.value_or(std::uint32_t(body.size()))).bytes(body).take();
}

inline QByteArray form(const QList<Chunk> &list, const QByteArray &type = "AIFF")
{
    const QByteArray body = type + chunks(list, false);
    return ByteWriter().bytes("FORM").u32be(std::uint32_t(body.size())).bytes(body).take();
}

inline QByteArray info(const QList<Chunk> &entries, const QByteArray &type = "INFO")
{
    return type + chunks(entries, true);
}

inline QByteArray acid(float tempo) { return ByteWriter().u32le(1).zeros(16).f32le(tempo).take(); }

} // namespace tampod::test::tags

namespace tampod::test::flac {

struct Block {
    std::uint8_t kind;
    QByteArray body;
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
    return ByteWriter().zeros(10).u64be(std::uint64_t(rate) << 44 | 1ull << 41 | std::uint64_t(bits - 1) << 36).zeros(16).take();
}
inline const Block info{0, streamInfo(44100, 16)};

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

} // namespace tampod::test::flac

namespace tampod::test::mpeg4 {

inline QByteArray box(const QByteArray &name, const QByteArray &body)
{
    return ByteWriter().u32be(std::uint32_t(body.size() + 8)).bytes(name).bytes(body).take();
}

struct TopBox {
    QByteArray name;
    qsizetype offset, size;
    bool operator==(const TopBox &) const = default;
};

// The top-level boxes with 32- or 64-bit sizes; a size of 0 runs to the end.
inline QList<TopBox> topLevel(const QByteArray &file)
{
    QList<TopBox> list;
    const ByteReader in(file);
    for (qsizetype offset = 0; offset + 8 <= file.size();) {
        qsizetype size = in.u32beAt(size_t(offset));
        if (size == 1)
            size = qsizetype(ByteReader(file.mid(offset + 8, 8)).u64be());
        else if (size == 0)
            size = file.size() - offset;
        list.append({file.mid(offset + 4, 4), offset, size});
        if (size < 8)
            break;
        offset += size;
    }
    return list;
}

} // namespace tampod::test::mpeg4

namespace tampod::test {

class MadeFiles : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        delete sources;
        sources = nullptr;
    }
    // Makes a source file with ffmpeg: its input options, then the output options.
    static void make(const QString &name, const QStringList &input, const QStringList &output = {})
    {
        if (!sources)
            sources = new TempDir;
        runChecked(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i"}
                                                 + input + output + QStringList{sources->file(name)});
    }
    // A writable copy of a source file, replacing an earlier copy of the same name.
    QString copy(const QString &name, const QString &as = {})
    {
        const QString path = dir.file(as.isEmpty() ? name : as);
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(sources->file(name), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    static inline TempDir *sources = nullptr;
    TempDir dir;
};

// Arguments: path, kind (wav, aiff or mp3), ID3 version, text encoding, then the TBPM and the
// "tamPOD_BPM" TXXX texts, either left out when empty.
inline const char *mutagenId3 = R"(
import sys
from mutagen.id3 import ID3, TBPM, TXXX
from mutagen.wave import WAVE
from mutagen.aiff import AIFF
path, kind, version, encoding, standard, precise = sys.argv[1:]
f = ID3(path) if kind == 'mp3' else WAVE(path) if kind == 'wav' else AIFF(path)
if kind != 'mp3' and f.tags is None:
    f.add_tags()
tags = f if kind == 'mp3' else f.tags
if standard:
    tags.add(TBPM(encoding=int(encoding), text=[standard]))
if precise:
    tags.add(TXXX(encoding=int(encoding), desc='tamPOD_BPM', text=[precise]))
f.save(path, v2_version=int(version)) if kind == 'mp3' else f.save(v2_version=int(version))
)";

} // namespace tampod::test
