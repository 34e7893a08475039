#pragma once

#include "library/audio_source_format.h"
#include "library/sd2_metadata.h"
#include "platform/forks/fork_store.h"

#include <QString>
#include <QUrl>

#include <optional>

// The SD2 check on a file our decoder plays: which SD2 parameters playback and pairing use,
// settled between the file's resource metadata and what the decoder reports.
namespace tampod::SD2NativeImport {

struct Result {
    AudioSourceFormat format;            // the decoder's format
    std::optional<SD2Metadata> metadata; // the parameters to use
    std::optional<QString> note;         // how they were settled, for the library
};

// Whether the decoder recognises the file as an SD2 container. No decoder here reads one, so
// headerless SD2 data is never taken for it: always false.
bool isSD2Container(const QUrl &url);

// Never throws.
Result inspect(const QUrl &url, const ForkStore &forks = ForkStore());

} // namespace tampod::SD2NativeImport
