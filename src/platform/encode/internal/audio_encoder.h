#pragma once

#include "platform/encode/audio_file_writer.h"

#include <cstdint>
#include <memory>

namespace tampod {

// One output format's encoder, writing to a descriptor the writer created. Owns nothing of
// the descriptor's life: the writer closes and, on failure, removes the file.
class AudioEncoder {
public:
    virtual ~AudioEncoder() = default;
    virtual void write(const float *interleaved, int64_t frames) = 0;
    virtual void finish() = 0;
    virtual int bitRate() const { return 0; }
};

std::unique_ptr<AudioEncoder> makeSndfileEncoder(int fd, const AudioWriteFormat &format);
std::unique_ptr<AudioEncoder> makeFlacEncoder(int fd, const AudioWriteFormat &format);
std::unique_ptr<AudioEncoder> makeAacEncoder(int fd, const AudioWriteFormat &format);

} // namespace tampod
