#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>

struct AVVorbisParseContext;

namespace tampod {

// The samples, at 48 kHz, of an Opus packet of size bytes by its table of contents: toc, its first
// byte, and count, the byte after it (read only where the table says it counts the frames). 0
// when the packet is not one.
int opusPacketSamples(uint8_t toc, uint8_t count, int64_t size);

// The frames an Ogg Vorbis or Opus packet stands for, in the stream's time base, told from
// the packet itself as the demuxer tells it: Opus by its table-of-contents byte, Vorbis by the
// block sizes of its setup header. Packets the page seeker hands on carry no duration, and a
// packet the decoder rejects is counted by it.
// thread: the stream's, as the stream that owns it.
class OggPacketDuration {
public:
    explicit OggPacketDuration(const AVCodecContext &decoder);
    ~OggPacketDuration();
    OggPacketDuration(const OggPacketDuration &) = delete;
    OggPacketDuration &operator=(const OggPacketDuration &) = delete;

    // 0 where the packet does not say.
    int64_t of(const AVPacket &packet);

private:
    AVCodecID codec_;
    AVVorbisParseContext *vorbis_ = nullptr;
};

} // namespace tampod
