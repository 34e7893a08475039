#pragma once

// RAII owners for FFmpeg objects. Private to the platform module.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswresample/swresample.h>
}

#include <QString>

#include <memory>

namespace tampod::ffmpeg {

struct FormatInputDeleter {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct FormatOutputDeleter {
    void operator()(AVFormatContext *c) const { avformat_free_context(c); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct IoContextDeleter {
    void operator()(AVIOContext *io) const
    {
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct SwrDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};

using InputFormatContext = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using OutputFormatContext = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using IoContext = std::unique_ptr<AVIOContext, IoContextDeleter>;
using Resampler = std::unique_ptr<SwrContext, SwrDeleter>;

// FFmpeg reports through our typed errors; its own console log stays quiet.
void silenceLog();

inline QString errorString(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace tampod::ffmpeg
