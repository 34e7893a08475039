#pragma once

#include "platform/audio_file_error.h"

namespace tampod {

// The source of an encoding could not be read (a failed read or seek, a source that ends
// early): the reader's own error, kept apart from the encoder's so that a caller reports the
// decode of the source as the step that failed, not the encode.
class SourceReadError : public AudioFileError {
public:
    explicit SourceReadError(const AudioFileError &error) : AudioFileError(error) {}
};

} // namespace tampod
