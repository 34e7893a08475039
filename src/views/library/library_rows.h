#pragma once

#include "views/library/library_row.h"

#include "library/audio_source_format.h"

#include <QHash>
#include <QUrl>

#include <optional>
#include <vector>

namespace tampod {

class PlayerModel;

// The library table's rows: one per visible library row, in order, from the player's tracks,
// current track, repeat, section loop and the detection, recovery and pairing states. Pure:
// the same state gives equal rows. thread: main only.
// cache, when given, keeps the texts that depend on one track's record alone, so that a
// progress step at many thousand rows costs comparisons, not formatting. The rows are the same
// with or without it.
struct LibraryRowCache {
    struct Inputs {
        QUrl url;
        double duration = 0;
        AudioSourceFormat format;
        bool isSD2 = false;
        std::optional<QString> channel;
        bool operator==(const Inputs &) const = default;
    };
    struct Texts {
        Inputs inputs;
        QString name, duration, type, help, sampleRate, resolution;
    };
    QHash<QUuid, Texts> texts;
};

std::vector<LibraryRow> libraryRows(PlayerModel &player, LibraryRowCache *cache = nullptr);
// The rows of one library track (its two channel rows for a linked pair), equal to its rows in
// libraryRows; none for an unknown id. Its cost does not grow with the library.
std::vector<LibraryRow> libraryRowsOf(PlayerModel &player, const QUuid &ownerID, LibraryRowCache *cache = nullptr);

} // namespace tampod
