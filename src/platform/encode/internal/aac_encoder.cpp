#include "core/number_text.h"
#include "core/file_system_call.h"
#include "platform/audio_file_error.h"
#include "platform/encode/internal/audio_encoder.h"
#include "platform/internal/ffmpeg_owners.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cerrno>
#include <unistd.h>

namespace tampod {

namespace {

constexpr int ioBufferBytes = 64 * 1024;

class AacEncoder final : public AudioEncoder {
public:
    AacEncoder(int fd, const AudioWriteFormat &format) : fd_(fd), format_(format)
    {
        ffmpeg::silenceLog();
        const QString preparing = QStringLiteral("Preparing codec");
        AVFormatContext *raw = nullptr;
        int status = avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr);
        if (status < 0 || !raw)
            fail(status < 0 ? status : AVERROR(ENOMEM), preparing);
        muxer_.reset(raw);

        auto *buffer = static_cast<uint8_t *>(av_malloc(ioBufferBytes));
        if (!buffer)
            fail(AVERROR(ENOMEM), preparing);
        io_.reset(avio_alloc_context(buffer, ioBufferBytes, 1, this, nullptr,
                                     &AacEncoder::writeCallback, &AacEncoder::seekCallback));
        if (!io_) {
            av_free(buffer);
            fail(AVERROR(ENOMEM), preparing);
        }
        muxer_->pb = io_.get();
        muxer_->flags |= AVFMT_FLAG_CUSTOM_IO;

        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec)
            fail(AVERROR_ENCODER_NOT_FOUND, preparing);
        stream_ = avformat_new_stream(muxer_.get(), nullptr);
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!stream_ || !encoder_)
            fail(AVERROR(ENOMEM), preparing);
        encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder_->sample_rate = format.sampleRate;
        av_channel_layout_default(&encoder_->ch_layout, format.channels);
        encoder_->bit_rate = format.bitRate;
        encoder_->profile = FF_PROFILE_AAC_LOW;
        encoder_->time_base = AVRational{1, format.sampleRate};
        if (muxer_->oformat->flags & AVFMT_GLOBALHEADER)
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        status = avcodec_open2(encoder_.get(), codec, nullptr);
        if (status < 0)
            fail(status, preparing);
        status = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
        if (status < 0)
            fail(status, preparing);
        stream_->time_base = AVRational{1, format.sampleRate};

        // The default movie timescale of 1,000 rounds the edit list to milliseconds; at the
        // sample rate it trims priming and padding exactly.
        AVDictionary *options = nullptr;
        av_dict_set(&options, "movie_timescale", NumberText::whole(format.sampleRate).c_str(), 0);
        status = avformat_write_header(muxer_.get(), &options);
        const bool unused = av_dict_count(options) > 0;
        av_dict_free(&options);
        if (status < 0)
            fail(status, QStringLiteral("Creating encoded file"));
        if (unused)
            fail(AVERROR_OPTION_NOT_FOUND, QStringLiteral("Creating encoded file"));
        headerWritten_ = true;

        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!frame_ || !packet_)
            fail(AVERROR(ENOMEM), preparing);
        frameSize_ = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = format.sampleRate;
        frame_->nb_samples = frameSize_;
        status = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (status >= 0)
            status = av_frame_get_buffer(frame_.get(), 0);
        if (status < 0)
            fail(status, preparing);
    }

    int bitRate() const override { return int(encoder_->bit_rate); }

    void write(const float *interleaved, int64_t frames) override
    {
        const int channels = format_.channels;
        while (frames > 0) {
            if (filled_ == 0) {
                const int status = av_frame_make_writable(frame_.get());
                if (status < 0)
                    fail(status, QStringLiteral("Encoding audio"));
            }
            const int n = int(std::min<int64_t>(frames, frameSize_ - filled_));
            for (int c = 0; c < channels; ++c) {
                auto *out = reinterpret_cast<float *>(frame_->extended_data[c]) + filled_;
                for (int i = 0; i < n; ++i)
                    out[i] = interleaved[ptrdiff_t(i) * channels + c];
            }
            filled_ += n;
            interleaved += ptrdiff_t(n) * channels;
            frames -= n;
            if (filled_ == frameSize_)
                sendFrame();
        }
    }

    void finish() override
    {
        if (filled_ > 0)
            sendFrame();
        int status = avcodec_send_frame(encoder_.get(), nullptr);
        if (status < 0)
            fail(status, QStringLiteral("Finalizing encoded audio"));
        drain();
        status = av_write_trailer(muxer_.get());
        if (status >= 0) {
            avio_flush(io_.get());
            status = io_->error;
        }
        if (status < 0)
            fail(status, QStringLiteral("Finalizing encoded audio"));
    }

private:
    void sendFrame()
    {
        frame_->nb_samples = filled_;
        frame_->pts = samplesSent_;
        const int status = avcodec_send_frame(encoder_.get(), frame_.get());
        if (status < 0)
            fail(status, QStringLiteral("Encoding audio"));
        samplesSent_ += filled_;
        filled_ = 0;
        frame_->nb_samples = frameSize_;
        drain();
    }

    void drain()
    {
        for (;;) {
            int status = avcodec_receive_packet(encoder_.get(), packet_.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return;
            if (status < 0)
                fail(status, QStringLiteral("Encoding audio"));
            packet_->stream_index = stream_->index;
            av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
            status = av_interleaved_write_frame(muxer_.get(), packet_.get());
            if (status < 0)
                fail(status, QStringLiteral("Encoding audio"));
        }
    }

    [[noreturn]] void fail(int status, const QString &operation)
    {
        if (ioErrno_ != 0)
            throw SystemError(ioErrno_, operation);
        throw AudioFileError(AudioFileError::Kind::codec, status, operation,
                             ffmpeg::errorString(status));
    }

    static int writeCallback(void *opaque, uint8_t *buffer, int size)
    {
        auto *self = static_cast<AacEncoder *>(opaque);
        int done = 0;
        while (done < size) {
            const ssize_t n = FileSystemCall::attempt(
                "write", [&] { return ::write(self->fd_, buffer + done, size_t(size - done)); });
            if (n <= 0) {
                self->ioErrno_ = n < 0 ? errno : EIO;
                return AVERROR(self->ioErrno_);
            }
            done += int(n);
        }
        return done;
    }

    static int64_t seekCallback(void *opaque, int64_t offset, int whence)
    {
        auto *self = static_cast<AacEncoder *>(opaque);
        if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE)
            return AVERROR(ENOSYS);
        const off_t position = ::lseek(self->fd_, off_t(offset), whence & ~AVSEEK_FORCE);
        if (position < 0) {
            self->ioErrno_ = errno;
            return AVERROR(errno);
        }
        return position;
    }

    int fd_;
    int ioErrno_ = 0;
    AudioWriteFormat format_;
    ffmpeg::IoContext io_;
    ffmpeg::OutputFormatContext muxer_;
    ffmpeg::CodecContext encoder_;
    ffmpeg::Frame frame_;
    ffmpeg::Packet packet_;
    AVStream *stream_ = nullptr;
    int frameSize_ = 1024;
    int filled_ = 0;
    int64_t samplesSent_ = 0;
    bool headerWritten_ = false;
};

} // namespace

std::unique_ptr<AudioEncoder> makeAacEncoder(int fd, const AudioWriteFormat &format)
{
    return std::make_unique<AacEncoder>(fd, format);
}

} // namespace tampod
