#pragma once

#include "files/access/missing_audio_source.h"
#include "files/journal/audio_export_error.h"

#include <QString>

#include <exception>

namespace tampod {

// The user text of a failed export: a missing or substituted source first, then the export's
// own text, else the storage text.
inline QString exportFailureText(const std::exception_ptr &error)
{
    if (const auto text = MissingAudioSource::message(error))
        return *text;
    try {
        std::rethrow_exception(error);
    } catch (const AudioExportError &exportError) {
        return exportError.message();
    } catch (...) {
    }
    return AudioExportError(AudioExportError::Case::storage).message();
}

} // namespace tampod
