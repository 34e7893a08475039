#include "sd2/sd2_metadata_reader.h"

#include "core/error.h"
#include "core/file_handle.h"
#include "core/folder.h"
#include "core/number_text.h"
#include "platform/forks/fork_store_error.h"
#include "sd2/internal/apple_double.h"
#include "sd2/internal/resource_bytes.h"
#include "sd2/sd2_metadata_error.h"
#include "sd2/sd2_tempo_metadata.h"
#include "tags/sd2_document_tempo.h"

#include <cerrno>
#include <cmath>
#include <utility>
#include <vector>

namespace tampod::SD2MetadataReader {

namespace {

using Case = SD2MetadataError::Case;

constexpr std::uint32_t typeSTR = 0x53545220;  // 'STR '
constexpr std::uint32_t typeSBPM = 0x7342504D; // 'sBPM'
constexpr std::uint32_t typeSDDD = 0x73644444; // 'sdDD'

constexpr std::int64_t maximumTypes = 256;
constexpr std::int64_t maximumReferences = 4096;

[[noreturn]] void fail(Case which)
{
    throw SD2MetadataError(which);
}

bool overlaps(std::int64_t start, std::int64_t length, std::int64_t otherStart,
              std::int64_t otherLength)
{
    return length > 0 && otherLength > 0 && start < otherStart + otherLength &&
           otherStart < start + length;
}

// A decimal integer of digits only; a "." or a 64-bit overflow fails. Large values that do
// fit are left to the range check, which calls them unsupported.
std::optional<std::int64_t> wholeNumber(const QByteArray &text)
{
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > (INT64_MAX - (c - '0')) / 10)
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool isFileAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

// Reads a companion opened as an outside file, at most the inspection limit (and one byte
// more, to catch a file that grew after it was measured).
QByteArray boundedData(FileHandle &file)
{
    if (file.size() > inspectionLimit)
        fail(Case::tooLarge);
    QByteArray bytes = file.readUpTo(inspectionLimit + 1);
    if (bytes.size() > inspectionLimit)
        fail(Case::tooLarge);
    return bytes;
}

// One companion's metadata; none when it is absent or holds no resource bytes. No link is
// followed, neither at the companion nor at ".AppleDouble", and a FIFO, folder or device in
// a companion's place is refused without waiting on it.
std::optional<SD2Metadata> readCompanion(const Folder &parent, const QByteArray &subfolder,
                                         const QByteArray &name)
{
    try {
        Folder folder;
        if (!subfolder.isEmpty()) {
            // A linked ".AppleDouble" is refused; anything else but a folder holds no companion.
            const auto status = parent.status(subfolder, LinkPolicy::NoFollow);
            if (!status)
                return std::nullopt;
            if (S_ISLNK(status->st_mode))
                fail(Case::access);
            if (!S_ISDIR(status->st_mode))
                return std::nullopt;
            folder = parent.openSubfolder(subfolder);
        }
        FileHandle file = (folder.isOpen() ? folder : parent).openOutside(name, LinkPolicy::NoFollow);
        const QByteArray fork = AppleDouble::unwrap(boundedData(file));
        if (fork.isEmpty())
            return std::nullopt;
        return parse(fork);
    } catch (const SD2MetadataError &) {
        throw;
    } catch (const SystemError &error) {
        if (isFileAbsent(error.errnoValue()))
            return std::nullopt;
        fail(Case::access);
    } catch (...) {
        fail(Case::access);
    }
}

} // namespace

std::optional<SD2Metadata> read(const QUrl &url, const ForkStore &forks)
{
    const QString path = url.toLocalFile();
    const QString name = url.fileName(QUrl::FullyDecoded);
    if (path.isEmpty() || name.isEmpty())
        return std::nullopt;

    std::optional<SD2Metadata> result;
    std::optional<QByteArray> fork;
    try {
        fork = forks.read(path, inspectionLimit);
    } catch (const ForkStoreError &error) {
        fail(error.kind() == ForkStoreError::Kind::tooLarge ? Case::tooLarge : Case::conflicting);
    }
    if (fork)
        result = parse(*fork);

    Folder folder;
    try {
        folder = Folder::open(path.left(path.size() - name.size()));
    } catch (const SystemError &error) {
        if (!isFileAbsent(error.errnoValue()))
            fail(Case::access);
        return result;
    }
    const std::pair<QByteArray, QByteArray> companions[] = {
        {QByteArray(), "._" + encodedPath(name)},
        {QByteArrayLiteral(".AppleDouble"), encodedPath(name)},
    };
    for (const auto &[subfolder, companion] : companions) {
        const auto metadata = readCompanion(folder, subfolder, companion);
        if (!metadata)
            continue;
        if (result && *result != *metadata)
            fail(Case::conflicting);
        result = metadata;
    }
    return result;
}

SD2Metadata parse(const QByteArray &fork)
{
    if (fork.size() > inspectionLimit)
        fail(Case::tooLarge);
    const ResourceBytes bytes(fork);
    bytes.check(0, 16);
    const std::int64_t dataOffset = bytes.number(0, 4);
    const std::int64_t mapOffset = bytes.number(4, 4);
    const std::int64_t dataLength = bytes.number(8, 4);
    const std::int64_t mapLength = bytes.number(12, 4);
    if (dataOffset < 16 || mapOffset < 16 || mapLength < 30)
        fail(Case::invalid);
    bytes.check(dataOffset, dataLength);
    bytes.check(mapOffset, mapLength);
    if (overlaps(dataOffset, dataLength, mapOffset, mapLength))
        fail(Case::invalid);
    const std::int64_t dataEnd = dataOffset + dataLength;
    const std::int64_t mapEnd = mapOffset + mapLength;

    const std::int64_t typeList = mapOffset + bytes.number(mapOffset + 24, 2);
    const std::int64_t nameList = mapOffset + bytes.number(mapOffset + 26, 2);
    if (typeList < mapOffset + 28 || typeList > mapEnd - 2 || nameList < typeList + 2 ||
        nameList > mapEnd)
        fail(Case::invalid);

    const std::int64_t typeCount = std::int64_t(bytes.number(typeList, 2)) + 1;
    const std::int64_t typeEntriesEnd = typeList + 2 + 8 * typeCount;
    if (typeCount > maximumTypes || typeEntriesEnd > nameList)
        fail(Case::invalid);

    std::optional<double> precise;
    std::optional<double> native;
    std::optional<QByteArray> parameters[3];
    std::vector<std::uint32_t> types;
    std::vector<std::pair<std::int64_t, std::int64_t>> referenceLists;
    std::int64_t totalReferences = 0;

    for (std::int64_t t = 0; t < typeCount; ++t) {
        const std::int64_t entry = typeList + 2 + 8 * t;
        const std::uint32_t type = bytes.number(entry, 4);
        const std::int64_t count = std::int64_t(bytes.number(entry + 4, 2)) + 1;
        const std::int64_t listStart = typeList + bytes.number(entry + 6, 2);
        for (const auto earlier : types) {
            if (earlier == type)
                fail(Case::invalid);
        }
        types.push_back(type);
        totalReferences += count;
        if (totalReferences > maximumReferences)
            fail(Case::invalid);
        const std::int64_t listLength = 12 * count;
        if (listStart < typeEntriesEnd || listStart + listLength > nameList)
            fail(Case::invalid);
        for (const auto &[start, length] : referenceLists) {
            if (overlaps(listStart, listLength, start, length))
                fail(Case::invalid);
        }
        referenceLists.emplace_back(listStart, listLength);

        std::vector<std::uint32_t> ids;
        for (std::int64_t r = 0; r < count; ++r) {
            const std::int64_t reference = listStart + 12 * r;
            const std::uint32_t id = bytes.number(reference, 2);
            const std::uint32_t nameOffset = bytes.number(reference + 2, 2);
            const bool compressed = (bytes.number(reference + 4, 1) & 0x01) != 0;
            const std::int64_t dataEntry = dataOffset + bytes.number(reference + 5, 3);
            for (const auto earlier : ids) {
                if (earlier == id)
                    fail(Case::invalid);
            }
            ids.push_back(id);
            const bool parameter = type == typeSTR && id >= 1000 && id <= 1002;
            if (parameter && nameOffset != 0xFFFF) {
                const std::int64_t nameStart = nameList + nameOffset;
                if (nameStart >= mapEnd || nameStart + 1 + bytes.number(nameStart, 1) > mapEnd)
                    fail(Case::invalid);
            }
            if (dataEntry > dataEnd - 4)
                fail(Case::invalid);
            const std::int64_t length = bytes.number(dataEntry, 4);
            if (length > dataEnd - dataEntry - 4)
                fail(Case::invalid);
            const std::int64_t payload = dataEntry + 4;

            if (type == typeSBPM && id == 128) {
                if (!compressed && length <= 128)
                    precise = SD2TempoMetadata::decode(bytes.slice(payload, length));
            } else if (type == typeSDDD && id == 1000) {
                if (!compressed && length == SD2DocumentTempo::recordLength)
                    native = SD2DocumentTempo::read(bytes.slice(payload, length));
            } else if (parameter) {
                if (compressed)
                    fail(Case::unsupported);
                if (length < 2 || length > 64 || bytes.number(payload, 1) != length - 1)
                    fail(Case::invalid);
                const QByteArray text = bytes.slice(payload + 1, length - 1);
                for (const char c : text) {
                    if ((c < '0' || c > '9') && c != '.')
                        fail(Case::invalid);
                }
                parameters[id - 1000] = text;
            }
        }
    }

    if (!parameters[0] || !parameters[1] || !parameters[2])
        fail(Case::invalid);
    const auto sampleBytes = wholeNumber(*parameters[0]);
    const auto rate = NumberText::parse(std::string_view(parameters[1]->constData(),
                                                         size_t(parameters[1]->size())));
    const auto channels = wholeNumber(*parameters[2]);
    if (!sampleBytes || !rate || !channels)
        fail(Case::invalid);
    if (*sampleBytes < 1 || *sampleBytes > 4 || *channels < 1 || *channels > 2 ||
        !std::isfinite(*rate) || *rate < SD2Metadata::minimumSampleRate || *rate > SD2Metadata::maximumSampleRate || *rate != std::round(*rate))
        fail(Case::unsupported);

    SD2Metadata metadata;
    metadata.sampleBytes = int(*sampleBytes);
    metadata.sampleRate = int(*rate);
    metadata.channels = int(*channels);
    metadata.bpm = SD2DocumentTempo::inForce({native, precise});
    metadata.nativeBPM = native;
    return metadata;
}

bool hasResourceStorage(const QUrl &url)
{
    if (!url.isLocalFile())
        return false;
    const QString path = url.toLocalFile();
    const QString name = url.fileName(QUrl::FullyDecoded);
    if (name.isEmpty())
        return false;
    const QString folder = path.left(path.size() - name.size());
    const auto itemExists = [](const QString &item) { return statusOf(item, LinkPolicy::NoFollow).has_value(); };
    return itemExists(folder + QStringLiteral("._") + name) ||
           itemExists(folder + QStringLiteral(".AppleDouble/") + name) ||
           ForkStore().hasFork(path);
}

} // namespace tampod::SD2MetadataReader
