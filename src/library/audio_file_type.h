#pragma once

#include <QSet>
#include <QString>

namespace tampod {

struct AudioFileType {
    // The 21 lower-case extensions that always count as audio files.
    static const QSet<QString> &extensions();
    // Whether a file name extension names audio: the system's type for it is, or inherits, an
    // audio type. Case as the type database matches it; an empty extension names nothing.
    static bool conformsToAudio(const QString &extension);
};

} // namespace tampod
