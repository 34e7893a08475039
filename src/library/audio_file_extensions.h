#pragma once

#include <QSet>
#include <QString>

namespace tampod {

// The 21 lower-case file name extensions that always count as audio files: the importer lists
// them, and the export name check replaces them.
const QSet<QString> &audioFileExtensions();

} // namespace tampod
