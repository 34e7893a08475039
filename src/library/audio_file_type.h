#pragma once

#include <QString>

namespace tampod {

// Whether a file name extension names audio: the system's type for it is, or inherits, an
// audio type. Case as the type database matches it; an empty extension names nothing.
struct AudioFileType {
    static bool conformsToAudio(const QString &extension);
};

} // namespace tampod
