#pragma once

#include <QString>

#include <array>
#include <optional>

namespace tampod {

// The export formats. Only some can be produced; the rest exist so that saved settings naming
// them keep loading. The saved form of each is its raw value, the case name.
enum class ExportFormat {
    wav,
    aiff,
    sd2,
    mp3,
    m4aAAC,
    m4aALAC,
    aac,
    flac,
    ape,
    oggVorbis,
    wma,
    au,
    bwf,
    ac3,
};

namespace ExportFormats {

// Every case in declaration order.
const std::array<ExportFormat, 14> &allCases();

QString rawValue(ExportFormat format);
// nullopt when the text names no case (the record holding it must then fail to decode).
std::optional<ExportFormat> fromRawValue(const QString &raw);
QString fileExtension(ExportFormat format);
QString title(ExportFormat format);

} // namespace ExportFormats

} // namespace tampod
