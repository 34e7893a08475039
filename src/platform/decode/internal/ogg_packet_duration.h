#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>

struct AVVorbisParseContext;

namespace tampod {

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
    static int64_t ofOpus(const AVPacket &packet);

    AVCodecID codec_;
    AVVorbisParseContext *vorbis_ = nullptr;
};

} // namespace tampod
