#include "tags/flac_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "core/file_handle.h"
#include "core/folder.h"
#include "tags/internal/utf8_text.h"
#include "tags/read_or_none.h"
#include "tags/tempo_model.h"
#include "tags/tempo_write_error.h"

#include <QFileInfo>
#include <QList>

#include <array>
#include <functional>

namespace tampod::FLACTempoMetadata {

namespace {

constexpr std::uint8_t streamInfo = 0;
constexpr std::uint8_t vorbisComment = 4;
constexpr qint64 copyChunk = 65'536;
constexpr std::uint32_t commentsPerCancellationCheck = 1'024;
constexpr std::array<const char *, 3> tempoKeys{"BPM", "TAMPOD_BPM", "TEMPO"};

struct Block {
    std::uint8_t kind;
    QByteArray body;
};

[[noreturn]] void refuse()
{
    throw TempoWriteError(TempoWriteError::Reason::tempoMetadata);
}

// Reads the block list at the head of the file; audio is where the first audio byte stands.
QList<Block> readBlocks(const FileHandle &file, qint64 &audio)
{
    if (file.preadUpTo(0, 4) != "fLaC")
        refuse();
    const qint64 fileSize = file.size();
    QList<Block> blocks;
    qint64 position = 4;
    for (int index = 0; index < maximumBlocks; ++index) {
        CurrentCancellation::throwIfCancelled();
        const QByteArray header = file.preadUpTo(position, 4);
        if (header.size() < 4)
            refuse();
        ByteReader fields(header);
        const std::uint8_t first = fields.u8();
        const qint64 length = fields.u24be();
        position += 4;
        // A body past the end of the file is refused before memory is set aside for it.
        if (position - 4 + length > maximumMetadataBytes || length > fileSize - position)
            refuse();
        QByteArray body = file.preadUpTo(position, length);
        if (body.size() < length)
            refuse();
        position += length;
        blocks.append({static_cast<std::uint8_t>(first & 0x7F), std::move(body)});
        if (first & 0x80) {
            audio = position;
            return blocks;
        }
    }
    refuse();
}

// Calls visit with the bytes of each comment of a Vorbis comment body, in order.
void visitComments(const QByteArray &body, const std::function<void(const QByteArray &)> &visit)
{
    ByteReader reader(body);
    const auto length = [&reader]() -> std::uint32_t {
        if (!reader.has(4))
            refuse();
        return reader.u32le();
    };
    const std::uint32_t vendor = length();
    if (vendor > reader.remaining())
        refuse();
    reader.skip(vendor);
    const std::uint32_t count = length();
    if (count > reader.remaining() / 4)
        refuse();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i % commentsPerCancellationCheck == 0)
            CurrentCancellation::throwIfCancelled();
        const std::uint32_t size = length();
        if (size > reader.remaining())
            refuse();
        visit(reader.byteArray(size));
    }
}

struct Comment {
    QByteArray text; // well-formed UTF-8
    std::optional<QString> key;
    std::optional<QByteArray> value;
};

// Splits at the first "=" after any leading ones; empty pieces count as absent. "=a=b" has
// the key "a" and the value "b"; "a==b" has the value "=b".
Comment split(const QByteArray &raw)
{
    Comment comment{Utf8Text::repaired(raw), std::nullopt, std::nullopt};
    const QByteArray &text = comment.text;
    qsizetype start = 0;
    while (start < text.size() && text[start] == '=')
        ++start;
    if (start == text.size())
        return comment;
    const qsizetype equals = text.indexOf('=', start);
    comment.key = QString::fromUtf8(text.mid(start, equals < 0 ? -1 : equals - start)).toUpper();
    if (equals >= 0 && equals + 1 < text.size())
        comment.value = text.mid(equals + 1);
    return comment;
}

std::optional<qsizetype> tempoKeyIndex(const QString &key)
{
    for (size_t i = 0; i < tempoKeys.size(); ++i) {
        if (key == QLatin1String(tempoKeys[i]))
            return static_cast<qsizetype>(i);
    }
    return std::nullopt;
}

qsizetype firstComments(const QList<Block> &blocks)
{
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        if (blocks[i].kind == vorbisComment)
            return i;
    }
    return -1;
}

QByteArray commentBody(const QList<QByteArray> &comments)
{
    ByteWriter out;
    const QByteArray vendor("tamPOD");
    out.u32le(static_cast<std::uint32_t>(vendor.size())).bytes(vendor);
    out.u32le(static_cast<std::uint32_t>(comments.size()));
    for (const QByteArray &comment : comments) {
        if (out.data().size() + 4 + comment.size() > maximumCommentBody)
            refuse();
        out.u32le(static_cast<std::uint32_t>(comment.size())).bytes(comment);
    }
    return out.take();
}

QList<Block> tagged(QList<Block> blocks, double bpm)
{
    const qsizetype old = firstComments(blocks);
    QList<QByteArray> kept;
    if (old >= 0) {
        visitComments(blocks[old].body, [&kept](const QByteArray &raw) {
            Comment comment = split(raw);
            if (!comment.key || !tempoKeyIndex(*comment.key))
                kept.append(std::move(comment.text));
        });
    }
    const QByteArray precise = TempoModel::preciseText(bpm).toUtf8();
    kept.append("BPM=" + precise);
    kept.append("TAMPOD_BPM=" + precise);
    Block comments{vorbisComment, commentBody(kept)};
    if (old >= 0)
        blocks[old] = std::move(comments);
    else
        blocks.append(std::move(comments));
    return blocks;
}

QByteArray blockBytes(const Block &block, bool last)
{
    ByteWriter out;
    out.u8(static_cast<std::uint8_t>(block.kind | (last ? 0x80 : 0)));
    out.u8(static_cast<std::uint8_t>(block.body.size() >> 16)).u16be(static_cast<std::uint16_t>(block.body.size()));
    out.bytes(block.body);
    return out.take();
}

void closeQuietly(FileHandle &file)
{
    try {
        file.close();
    } catch (...) {
    }
}

} // namespace

std::optional<double> read(const FileHandle &file)
{
    return readOrNone([&file]() -> std::optional<double> {
        qint64 audio = 0;
        const QList<Block> blocks = readBlocks(file, audio);
        const qsizetype comments = firstComments(blocks);
        if (comments < 0)
            return std::nullopt;
        std::array<std::optional<double>, tempoKeys.size()> slots;
        visitComments(blocks[comments].body, [&slots](const QByteArray &raw) {
            if (slots[0] || raw.size() < 4)
                return;
            const Comment comment = split(raw);
            if (!comment.key || !comment.value)
                return;
            const auto index = tempoKeyIndex(*comment.key);
            if (!index || slots[*index])
                return;
            const auto value = TempoModel::parse(std::string_view(comment.value->constData(),
                                                                  static_cast<size_t>(comment.value->size())));
            if (value && TempoModel::isUsable(*value))
                slots[*index] = value;
        });
        for (const auto &slot : slots) {
            if (slot)
                return slot;
        }
        return std::nullopt;
    });
}

std::optional<double> read(const QString &path)
{
    return readOrNone([&path] { return read(FileHandle::openOutside(path)); });
}

std::optional<StreamFormat> sourceFormat(const QString &path)
{
    return readOrNone([&path]() -> std::optional<StreamFormat> {
        const QByteArray head = FileHandle::openOutside(path).preadUpTo(0, 42);
        if (head.size() < 42 || !head.startsWith("fLaC"))
            return std::nullopt;
        ByteReader fields(head);
        fields.seek(4);
        if ((fields.u8() & 0x7F) != streamInfo || fields.u24be() != 34)
            return std::nullopt;
        fields.seek(18);
        const std::uint64_t packed = fields.u64be();
        const auto rate = static_cast<int>(packed >> 44);
        if (rate == 0)
            return std::nullopt;
        return StreamFormat{rate, static_cast<int>((packed >> 36) & 0x1F) + 1};
    });
}

QByteArray newCommentBlock(std::optional<double> bpm)
{
    if (!bpm || !TempoModel::isUsable(*bpm))
        return {};
    return blockBytes(tagged({}, *bpm).constFirst(), true);
}

void copyTagging(std::optional<double> bpm, const QString &source, const QString &destination)
{
    FileHandle input = FileHandle::openOutside(source);
    qint64 audio = 0;
    QList<Block> blocks = readBlocks(input, audio);
    if (bpm && TempoModel::isUsable(*bpm))
        blocks = tagged(std::move(blocks), *bpm);

    FileHandle output;
    try {
        const QFileInfo target(destination);
        output = Folder::open(target.path()).createExclusive(encodedPath(target.fileName()), O_WRONLY, 0666);
    } catch (const SystemError &) {
        throw TempoWriteError(TempoWriteError::Reason::storage);
    }
    output.writeAll("fLaC");
    for (qsizetype i = 0; i < blocks.size(); ++i)
        output.writeAll(blockBytes(blocks[i], i == blocks.size() - 1));
    CurrentCancellation::throwIfCancelled();
    for (qint64 position = audio;;) {
        const QByteArray chunk = input.preadUpTo(position, copyChunk);
        if (chunk.isEmpty())
            break;
        output.writeAll(chunk);
        position += chunk.size();
        CurrentCancellation::throwIfCancelled();
    }
    output.sync();
    closeQuietly(output);
    closeQuietly(input);
}

} // namespace tampod::FLACTempoMetadata
