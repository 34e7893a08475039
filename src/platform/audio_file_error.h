#pragma once

#include "core/error.h"

namespace tampod {

// A failure of the audio file layer. code() is the underlying library's numeric status
// (an FFmpeg AVERROR, a libsndfile error number or a libFLAC state), so callers that show
// "audio error" texts can include it; operation() names the step that failed.
class AudioFileError : public Error {
public:
    enum class Kind {
        notAudio,        // the content is not a stream we decode (probe refused it)
        unsupported,     // recognised but not decodable or writable here
        malformed,       // damaged, truncated or hostile data
        io,              // reading or writing the file failed
        codec,           // the decoder or encoder refused to work
        invalidArgument, // the caller asked for something impossible
    };

    AudioFileError(Kind kind, int code, const QString &operation, const QString &detail = {});

    Kind kind() const noexcept { return kind_; }
    const QString &operation() const noexcept { return operation_; }

private:
    Kind kind_;
    QString operation_;
};

} // namespace tampod
