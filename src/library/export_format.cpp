#include "library/export_format.h"

#include <iterator>

namespace tampod::ExportFormats {

namespace {

struct Entry {
    ExportFormat format;
    const char *raw;
    const char *extension;
    const char *title; // nullptr: the raw value in upper case
};

// One row per case, in declaration order.
constexpr Entry entries[] = {
    {ExportFormat::wav, "wav", "wav", nullptr},
    {ExportFormat::aiff, "aiff", "aiff", nullptr},
    {ExportFormat::sd2, "sd2", "sd2", nullptr},
    {ExportFormat::mp3, "mp3", "mp3", nullptr},
    {ExportFormat::m4aAAC, "m4aAAC", "m4a", "M4A \u2014 AAC"},
    {ExportFormat::m4aALAC, "m4aALAC", "m4a", "M4A \u2014 Apple Lossless"},
    {ExportFormat::aac, "aac", "aac", nullptr},
    {ExportFormat::flac, "flac", "flac", nullptr},
    {ExportFormat::ape, "ape", "ape", nullptr},
    {ExportFormat::oggVorbis, "oggVorbis", "ogg", "OGG \u2014 Vorbis"},
    {ExportFormat::wma, "wma", "wma", nullptr},
    {ExportFormat::au, "au", "au", nullptr},
    {ExportFormat::bwf, "bwf", "wav", nullptr},
    {ExportFormat::ac3, "ac3", "ac3", nullptr},
};

static_assert([] {
    for (size_t i = 0; i < std::size(entries); ++i) {
        if (static_cast<size_t>(entries[i].format) != i)
            return false;
    }
    return std::size(entries) == 14;
}(), "one row per case, in declaration order");

const Entry &entry(ExportFormat format)
{
    return entries[static_cast<int>(format)];
}

} // namespace

const std::array<ExportFormat, 14> &allCases()
{
    static const std::array<ExportFormat, 14> cases = [] {
        std::array<ExportFormat, 14> all{};
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = entries[i].format;
        return all;
    }();
    return cases;
}

QString rawValue(ExportFormat format)
{
    return QString::fromLatin1(entry(format).raw);
}

std::optional<ExportFormat> fromRawValue(const QString &raw)
{
    for (const Entry &e : entries) {
        if (raw == QLatin1String(e.raw))
            return e.format;
    }
    return std::nullopt;
}

QString fileExtension(ExportFormat format)
{
    return QString::fromLatin1(entry(format).extension);
}

QString title(ExportFormat format)
{
    const Entry &e = entry(format);
    return e.title ? QString::fromUtf8(e.title) : QString::fromLatin1(e.raw).toUpper();
}

} // namespace tampod::ExportFormats
