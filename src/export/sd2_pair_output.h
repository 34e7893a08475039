#pragma once

#include "export/raw_value.h"

#include <QFileInfo>
#include <QList>
#include <QUrl>

#include <array>

namespace tampod {

// How a linked .L/.R pair is exported. The raw values are the texts of the choice.
enum class SD2PairOutput { stereo, separateMono };

template <>
struct RawValues<SD2PairOutput> {
    static constexpr std::array<std::string_view, 2> texts{"One stereo file", "Separate left/right mono files"};
};

namespace SD2PairOutputs {

// The two channel files of a separate-mono export, left first: the base without its extension,
// then "L" (or "R") as an extension, then the base's own extension again; folder/take.sd2 gives
// folder/take.L.sd2 and folder/take.R.sd2, and a base without an extension folder/take.L.
// Pure: no file access.
inline QList<QUrl> destinations(const QUrl &base)
{
    const QFileInfo info(base.toLocalFile());
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
    const QString extension = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return {QUrl::fromLocalFile(stem + QStringLiteral(".L") + extension),
            QUrl::fromLocalFile(stem + QStringLiteral(".R") + extension)};
}

} // namespace SD2PairOutputs

} // namespace tampod
