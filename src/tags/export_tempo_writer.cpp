#include "tags/export_tempo_writer.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "core/file_handle.h"
#include "tags/tempo_model.h"
#include "tags/tempo_write_error.h"

namespace tampod::ExportTempoWriter {

namespace {

constexpr std::uint64_t largestSizeField = 0xFFFF'FFFFull;
// The smallest double that rounds to infinity as a float: FLT_MAX plus half its last step.
constexpr double floatOverflow = 0x1.ffffffp+127;

[[noreturn]] void refuse()
{
    throw TempoWriteError(TempoWriteError::Reason::tempoMetadata);
}

QByteArray frame(const char *id, const QByteArray &payload)
{
    ByteWriter out;
    out.bytes(QByteArray(id)).u32be(static_cast<std::uint32_t>(payload.size())).u16be(0).bytes(payload);
    return out.take();
}

QByteArray chunk(const char *id, const QByteArray &body, bool littleEndian)
{
    ByteWriter out;
    out.bytes(QByteArray(id));
    const auto size = static_cast<std::uint32_t>(body.size());
    littleEndian ? out.u32le(size) : out.u32be(size);
    out.bytes(body);
    if (body.size() % 2 != 0)
        out.u8(0);
    return out.take();
}

// The 24-byte "acid" body, or nothing when the tempo has no positive finite float form.
std::optional<QByteArray> acidBody(double bpm)
{
    if (bpm >= floatOverflow)
        return std::nullopt;
    const float tempo = static_cast<float>(bpm);
    if (!(tempo > 0))
        return std::nullopt;
    ByteWriter out;
    out.u32le(1).zeros(16).f32le(tempo);
    return out.take();
}

} // namespace

QByteArray id3Tag(double bpm)
{
    const QByteArray whole = TempoModel::wholeText(bpm).toLatin1();
    const QByteArray precise = TempoModel::preciseText(bpm).toLatin1();
    const QByteArray frames = frame("TBPM", QByteArray(1, '\0') + whole)
        + frame("TXXX", QByteArray(1, '\0') + "tamPOD_BPM" + QByteArray(1, '\0') + precise);
    const auto size = static_cast<std::uint32_t>(frames.size());
    ByteWriter out;
    out.bytes("ID3").u8(3).u8(0).u8(0);
    for (int shift = 21; shift >= 0; shift -= 7)
        out.u8(static_cast<std::uint8_t>(size >> shift & 0x7F));
    out.bytes(frames);
    return out.take();
}

void write(std::optional<double> bpm, const QString &path, Container container)
{
    if (!bpm || !TempoModel::isUsable(*bpm))
        return;
    if (container == Container::unsupported)
        refuse();
    const bool wav = container == Container::wav;

    FileHandle file = FileHandle::openForUpdate(path);
    const auto length = static_cast<std::uint64_t>(file.size());
    const QByteArray header = file.preadUpTo(0, 12);
    if (header.size() < 12)
        refuse();
    if (header.left(4) != (wav ? "RIFF" : "FORM") || header.mid(8, 4) != (wav ? "WAVE" : "AIFF"))
        refuse();
    const ByteReader fields(header);
    const std::uint64_t declared = wav ? fields.u32leAt(4) : fields.u32beAt(4);
    if (declared + 8 != length) {
        // A final odd chunk's pad byte that the declared size leaves out is accepted.
        const bool padOutside = declared % 2 == 1 && declared + 9 == length
            && file.preadUpTo(static_cast<qint64>(length - 1), 1) == QByteArray(1, '\0');
        if (!padOutside)
            refuse();
    }

    QByteArray chunks = chunk(wav ? "id3 " : "ID3 ", id3Tag(*bpm), wav);
    if (wav) {
        if (const auto body = acidBody(*bpm))
            chunks += chunk("acid", *body, true);
    }
    const std::uint64_t alignment = length & 1;
    const std::uint64_t newSize = length + alignment + static_cast<std::uint64_t>(chunks.size()) - 8;
    if (newSize > largestSizeField)
        throw TempoWriteError(TempoWriteError::Reason::tooLarge);
    CurrentCancellation::throwIfCancelled();

    if (alignment)
        chunks.prepend('\0');
    file.pwriteAll(static_cast<qint64>(length), chunks);
    ByteWriter sizeField;
    wav ? sizeField.u32le(static_cast<std::uint32_t>(newSize)) : sizeField.u32be(static_cast<std::uint32_t>(newSize));
    file.pwriteAll(4, sizeField.data());
    file.sync();
    // Closing errors are ignored: the data is already on storage.
    try {
        file.close();
    } catch (...) {
    }
}

} // namespace tampod::ExportTempoWriter
