#include "tags/m4a_tempo_metadata.h"

#include "concurrency/cancellation.h"
#include "core/byte_reader.h"
#include "tags/internal/mpeg4_boxes.h"
#include "tags/read_or_none.h"
#include "tags/tempo_identity.h"
#include "tags/tempo_model.h"
#include "tags/tempo_write_error.h"

#include <QStringList>

namespace tampod::M4ATempoMetadata {

using namespace Mpeg4Boxes;

namespace {

constexpr std::uint32_t textData = 1;
constexpr std::uint32_t integerData = 21;

// A size field of 0 is replaced by the real size, which the moov limit keeps within 32 bits.
static_assert(maximumMoovSize <= 0xFFFF'FFFFull);

[[noreturn]] void refuse()
{
    throw TempoWriteError(TempoWriteError::Reason::tempoMetadata);
}

QByteArray afterPrefix(const QByteArray &body, qsizetype prefix)
{
    return body.mid(prefix);
}

std::optional<double> preciseValue(const Box &item)
{
    const QList<Box> parts = boxes(item.body);
    const Box *mean = child(parts, "mean");
    if (!mean || mean->body.size() < 4 || afterPrefix(mean->body, 4) != TempoIdentity::freeformMean)
        return std::nullopt;
    const Box *name = child(parts, "name");
    if (!name || name->body.size() < 4 || afterPrefix(name->body, 4) != "BPM")
        return std::nullopt;
    const Box *data = child(parts, "data");
    if (!data || data->body.size() < 8)
        return std::nullopt;
    const QByteArray text = afterPrefix(data->body, 8);
    const auto value = TempoModel::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    if (!value || !TempoModel::isUsable(*value))
        return std::nullopt;
    return value;
}

std::optional<double> standardValue(const Box &item)
{
    const QList<Box> parts = boxes(item.body);
    const Box *data = child(parts, "data");
    if (!data || data->body.size() != 10)
        return std::nullopt;
    const std::uint16_t value = ByteReader(data->body).u16beAt(8);
    if (value == 0)
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> wholeTempo(double bpm)
{
    const QString text = TempoModel::wholeText(bpm);
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c.unicode() - u'0');
    }
    if (value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

QByteArray items(double bpm)
{
    ByteWriter header;
    header.zeros(4);
    const QByteArray mean = box("mean", header.data() + TempoIdentity::freeformMean);
    const QByteArray name = box("name", header.data() + "BPM");
    ByteWriter text;
    text.u32be(textData).zeros(4).bytes(TempoModel::preciseText(bpm).toUtf8());
    QByteArray result = box("----", mean + name + box("data", text.data()));
    const auto whole = wholeTempo(bpm);
    if (whole && *whole != 0) {
        ByteWriter value;
        value.u32be(integerData).zeros(4).u16be(*whole);
        result += box("tmpo", box("data", value.data()));
    }
    return result;
}

QByteArray handler()
{
    ByteWriter body;
    body.zeros(8).bytes("mdir").zeros(12).u8(0);
    return box("hdlr", body.take());
}

// The container with items placed at the end of the box the path reaches, missing boxes made.
QByteArray inserting(const QByteArray &items, QStringList path, const QByteArray &container)
{
    if (path.isEmpty())
        return container + items;
    const QByteArray name = path.takeFirst().toLatin1();
    const qsizetype prefix = name == "meta" ? 4 : 0;
    const QList<Box> children = boxes(container);
    if (const Box *found = child(children, name.constData())) {
        if (found->body.size() < prefix)
            refuse();
        const QByteArray body = found->body.left(prefix) + inserting(items, path, found->body.mid(prefix));
        return container.left(found->start) + box(name, body) + container.mid(found->start + found->size);
    }
    QByteArray body = inserting(items, path, QByteArray());
    if (prefix)
        body = QByteArray(4, '\0') + handler() + body;
    return container + box(name, body);
}

} // namespace

std::optional<double> inForce(const StoredTempo &values)
{
    const auto &[standard, precise] = values;
    if (precise && standard)
        return TempoModel::agrees(*precise, *standard) ? precise : standard;
    return precise ? precise : standard;
}

std::optional<StoredTempo> values(const FileHandle &file)
{
    return readOrNone([&file]() -> std::optional<StoredTempo> {
        const Moov moov = loadMoov(file);
        const QList<Box> moovChildren = boxes(moov.body);
        const Box *udta = child(moovChildren, "udta");
        if (!udta)
            return std::nullopt;
        const QList<Box> udtaChildren = boxes(udta->body);
        const Box *meta = child(udtaChildren, "meta");
        if (!meta || meta->body.size() < 4)
            return std::nullopt;
        const QList<Box> metaChildren = boxes(afterPrefix(meta->body, 4));
        const Box *ilst = child(metaChildren, "ilst");
        if (!ilst)
            return std::nullopt;
        const QList<Box> list = boxes(ilst->body);

        StoredTempo found;
        for (const Box &item : list) {
            if (item.name == "----" && (found.precise = preciseValue(item)))
                break;
        }
        if (const Box *tmpo = child(list, "tmpo"))
            found.standard = standardValue(*tmpo);
        return found;
    });
}

std::optional<double> read(const FileHandle &file)
{
    const auto found = values(file);
    return found ? inForce(*found) : std::nullopt;
}

std::optional<double> read(const QString &path)
{
    return readOrNone([&path] { return read(FileHandle::openOutside(path)); });
}

void write(std::optional<double> bpm, const QString &path)
{
    if (!bpm || !TempoModel::isUsable(*bpm))
        return;
    FileHandle file = FileHandle::openForUpdate(path);
    const Moov moov = loadMoov(file);
    const QByteArray body = inserting(items(*bpm), {"udta", "meta", "ilst"}, moov.body);
    if (static_cast<std::uint64_t>(body.size()) + 8 > maximumMoovSize)
        refuse();
    CurrentCancellation::throwIfCancelled();

    // A moov that ran to the end of the file gets its real size first: as "free" it would
    // otherwise swallow the new moov behind it. The file means the same after this write.
    if (moov.sizeToEnd) {
        ByteWriter size;
        size.u32be(static_cast<std::uint32_t>(moov.size));
        file.pwriteAll(static_cast<qint64>(moov.offset), size.data());
    }
    file.pwriteAll(file.size(), box("moov", body));
    file.pwriteAll(static_cast<qint64>(moov.offset + 4), "free");
    file.sync();
    try {
        file.close();
    } catch (...) {
    }
}

} // namespace tampod::M4ATempoMetadata
