#pragma once

#include "library/audio_source_format.h"

#include <QUrl>

namespace tampod::AudioSourceFormatReader {

// The format of a file as the library shows it; no rate and unknown resolution when the file
// cannot be opened. Never fails.
AudioSourceFormat read(const QUrl &url);

} // namespace tampod::AudioSourceFormatReader
