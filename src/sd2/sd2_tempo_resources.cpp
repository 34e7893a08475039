#include "sd2/sd2_tempo_resources.h"

#include "core/byte_reader.h"
#include "core/number_text.h"
#include "files/journal/audio_export_error.h"
#include "platform/forks/fork_store_error.h"
#include "sd2/internal/resource_bytes.h"
#include "sd2/sd2_metadata_reader.h"
#include "sd2/sd2_tempo_metadata.h"
#include "tags/sd2_document_tempo.h"
#include "tags/tempo_model.h"

namespace tampod {

namespace {

constexpr std::uint32_t typeSTR = 0x53545220;  // 'STR '
constexpr std::uint32_t typeSBPM = 0x7342504D; // 'sBPM'
constexpr std::uint32_t typeSDDD = 0x73644444; // 'sdDD'

[[noreturn]] void refuse()
{
    throw AudioExportError(AudioExportError::Case::tempoMetadata);
}

QByteArray pascal(const QByteArray &text)
{
    return char(text.size()) + text;
}

void put16(QByteArray &bytes, qsizetype at, std::uint32_t value)
{
    bytes[at] = char((value >> 8) & 0xFF);
    bytes[at + 1] = char(value & 0xFF);
}

void put32(QByteArray &bytes, qsizetype at, std::uint32_t value)
{
    put16(bytes, at, value >> 16);
    put16(bytes, at + 2, value & 0xFFFF);
}

} // namespace

QByteArray SD2ResourceFork::parameters(int sampleBytes, int sampleRate, int channels)
{
    const QByteArray values[] = {QByteArray::number(sampleBytes), QByteArray::number(sampleRate),
                                 QByteArray::number(channels)};
    const QByteArray names[] = {"sample-size", "sample-rate", "channels"};
    constexpr std::uint32_t dataOffset = 256; // room for a header and nothing else, as is usual
    ByteWriter data, references, nameList;
    for (int i = 0; i < 3; ++i) {
        references.u16be(std::uint16_t(1000 + i)).u16be(std::uint16_t(nameList.data().size()));
        references.u32be(std::uint32_t(data.data().size())).u32be(0); // attributes 0, then the data entry
        data.u32be(std::uint32_t(values[i].size() + 1)).bytes(pascal(values[i]));
        nameList.bytes(pascal(names[i]));
    }
    const QByteArray dataArea = data.take();
    ByteWriter typeList;
    typeList.u16be(0).u32be(typeSTR).u16be(2).u16be(2 + 8); // one type of three, its references next
    const QByteArray types = typeList.take() + references.take();
    const QByteArray namesBytes = nameList.take();
    const std::uint32_t mapLength = 28 + std::uint32_t(types.size() + namesBytes.size());

    ByteWriter header;
    header.u32be(dataOffset).u32be(dataOffset + std::uint32_t(dataArea.size()));
    header.u32be(std::uint32_t(dataArea.size())).u32be(mapLength);
    const QByteArray head = header.take();
    ByteWriter map;
    map.bytes(head).bytes(QByteArray(8, '\0')).u16be(28).u16be(std::uint16_t(28 + types.size()));
    return head + QByteArray(dataOffset - head.size(), '\0') + dataArea + map.take() + types + namesBytes;
}

QByteArray SD2ResourceFork::adding(std::uint32_t type, int id, const QByteArray &payload, const QByteArray &fork)
{
    SD2MetadataReader::parse(fork); // every offset read below is proven by this parse
    const ResourceBytes bytes(fork);
    const std::uint32_t D = bytes.number(0, 4), M = bytes.number(4, 4);
    const std::uint32_t DL = bytes.number(8, 4), ML = bytes.number(12, 4);
    QByteArray data = fork.mid(D, DL);
    QByteArray map = fork.mid(M, ML);
    const ResourceBytes mapBytes(map);
    const std::uint32_t T = mapBytes.number(24, 2);
    const std::uint32_t N = mapBytes.number(26, 2);
    const std::uint32_t n = mapBytes.number(T, 2) + 1;
    if (n > 255 || N + 20 > 65535)
        refuse();
    for (std::uint32_t i = 0; i < n; ++i) {
        const qsizetype entry = T + 2 + 8 * i;
        if (mapBytes.number(entry, 4) == type)
            refuse();
        // Every list moves behind the new type entry.
        put16(map, entry + 6, mapBytes.number(entry + 6, 2) + 8);
    }
    ByteWriter entry;
    entry.u32be(type).u16be(0).u16be(std::uint16_t(N + 8 - T));
    map.insert(T + 2 + 8 * n, entry.take());
    ByteWriter reference;
    reference.u16be(std::uint16_t(id)).u16be(0xFFFF).u32be(DL).u32be(0); // attributes 0, data at the old end
    map.insert(N + 8, reference.take());
    put16(map, T, n);
    put16(map, 26, N + 20);
    ByteWriter entryData;
    entryData.u32be(std::uint32_t(payload.size())).bytes(payload);
    data += entryData.take();

    QByteArray result = fork.left(D);
    put32(result, 4, D + std::uint32_t(data.size()));
    put32(result, 8, std::uint32_t(data.size()));
    put32(result, 12, std::uint32_t(map.size()));
    map.replace(0, 16, result.left(16));
    result += data + map;
    SD2MetadataReader::parse(result);
    return result;
}

QByteArray SD2TempoMetadata::adding(double bpm, const QByteArray &fork)
{
    if (!TempoModel::isUsable(bpm))
        refuse();
    const QByteArray text = QByteArray(prefix) + TempoModel::preciseText(bpm).toLatin1();
    QByteArray result = SD2ResourceFork::adding(typeSBPM, 128, text, fork);
    const auto record = SD2DocumentTempo::record(bpm);
    if (record)
        result = SD2ResourceFork::adding(typeSDDD, 1000, *record, result);
    SD2Metadata expected = SD2MetadataReader::parse(fork);
    expected.bpm = bpm;
    expected.nativeBPM = record ? SD2DocumentTempo::read(*record) : std::nullopt;
    if (SD2MetadataReader::parse(result) != expected)
        refuse();
    return result;
}

void SD2TempoMetadata::write(std::optional<double> bpm, const QUrl &url, const ForkStore &forks)
{
    if (!bpm || !TempoModel::isUsable(*bpm))
        return;
    const QString path = url.toLocalFile();
    std::optional<QByteArray> fork;
    try {
        fork = forks.read(path, SD2MetadataReader::inspectionLimit);
    } catch (const ForkStoreError &error) {
        if (error.kind() == ForkStoreError::Kind::tooLarge)
            refuse();
        throw;
    }
    forks.write(path, adding(*bpm, fork.value_or(QByteArray())));
}

} // namespace tampod
