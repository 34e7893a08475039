#include "platform/decode/internal/ogg/ogg_packet_duration.h"

extern "C" {
#include <libavcodec/vorbis_parser.h>
}

namespace tampod {

OggPacketDuration::OggPacketDuration(const AVCodecContext &decoder) : codec_(decoder.codec_id)
{
    if (codec_ == AV_CODEC_ID_VORBIS && decoder.extradata && decoder.extradata_size > 0)
        vorbis_ = av_vorbis_parse_init(decoder.extradata, decoder.extradata_size);
}

OggPacketDuration::~OggPacketDuration()
{
    if (vorbis_)
        av_vorbis_parse_free(&vorbis_);
}

int64_t OggPacketDuration::of(const AVPacket &packet)
{
    if (!packet.data || packet.size <= 0)
        return 0;
    if (codec_ == AV_CODEC_ID_OPUS)
        return opusPacketSamples(packet.data[0], packet.size > 1 ? packet.data[1] : 0, packet.size);
    if (vorbis_) {
        const int duration = av_vorbis_parse_frame(vorbis_, packet.data, packet.size);
        return duration > 0 ? duration : 0;
    }
    return 0;
}

// The table of contents names the frames' size (by configuration) and how many frames there
// are; Ogg Opus streams count at 48 kHz.
int opusPacketSamples(uint8_t toc, uint8_t count, int64_t size)
{
    const int config = toc >> 3;
    static constexpr int silk[] = {480, 960, 1920, 2880}; // 10, 20, 40, 60 ms at 48 kHz
    int frameSamples;
    if (config < 12)
        frameSamples = silk[config & 3];
    else if (config < 16)
        frameSamples = 480 << (config & 1); // 10, 20 ms
    else
        frameSamples = 120 << (config & 3); // 2.5, 5, 10, 20 ms
    int frames;
    switch (toc & 3) {
    case 0: frames = 1; break;
    case 1:
    case 2: frames = 2; break;
    default:
        if (size < 2)
            return 0;
        frames = count & 0x3f;
        break;
    }
    const int samples = frames * frameSamples;
    return samples <= 5760 ? samples : 0; // no packet holds more than 120 ms
}

} // namespace tampod
