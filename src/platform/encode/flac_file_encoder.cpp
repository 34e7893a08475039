#include "platform/encode/flac_file_encoder.h"

#include "concurrency/thread_start.h"
#include "core/exclusive_file.h"
#include "platform/audio_file_error.h"
#include "platform/decode/audio_file_reader.h"
#include "platform/encode/source_read_error.h"
#include "platform/internal/frame_crc.h"

#include <libavutil/error.h>
#include <FLAC/stream_encoder.h>

#include <QCryptographicHash>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// Exported by libFLAC (for its own test suite) but left out of its public headers.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder *encoder, FLAC__bool value);

namespace tampod::FlacFileEncoder {

namespace {

const QString encodingText = QStringLiteral("Encoding audio");

struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder *encoder) const { FLAC__stream_encoder_delete(encoder); }
};

// Tables for eight bytes at a time: tables[k][b] is the CRC of b followed by k zero bytes.
using Crc16Tables = std::array<std::array<std::uint16_t, 256>, 8>;

Crc16Tables crc16Tables()
{
    Crc16Tables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t value = std::uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            value = std::uint16_t((value & 0x8000) ? (value << 1) ^ 0x8005 : value << 1);
        tables[0][i] = value;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint16_t previous = tables[k - 1][i];
            tables[k][i] = std::uint16_t((previous << 8) ^ tables[0][previous >> 8]);
        }
    }
    return tables;
}

// Every frame's CRC is redone over all its bytes, so it runs eight bytes a step.
std::uint16_t crc16(const char *data, qsizetype size)
{
    static const Crc16Tables tables = crc16Tables();
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(data);
    std::uint16_t value = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        value = std::uint16_t(tables[7][(value >> 8) ^ bytes[i]] ^ tables[6][(value & 0xFF) ^ bytes[i + 1]] ^
                              tables[5][bytes[i + 2]] ^ tables[4][bytes[i + 3]] ^ tables[3][bytes[i + 4]] ^
                              tables[2][bytes[i + 5]] ^ tables[1][bytes[i + 6]] ^ tables[0][bytes[i + 7]]);
    }
    for (; i < size; ++i)
        value = std::uint16_t((value << 8) ^ tables[0][((value >> 8) ^ bytes[i]) & 0xFF]);
    return value;
}

// The frame number as FLAC codes it: UTF-8's scheme, extended to 36 bits.
QByteArray codedNumber(std::uint64_t n)
{
    if (n < 0x80)
        return QByteArray(1, char(n));
    int extra = n < 0x800 ? 1 : n < 0x10000 ? 2 : n < 0x200000 ? 3 : n < 0x4000000 ? 4 : n < 0x80000000 ? 5 : 6;
    QByteArray out(extra + 1, '\0');
    for (int i = extra; i > 0; --i, n >>= 6)
        out[i] = char(0x80 | (n & 0x3F));
    const unsigned lead = extra == 6 ? 0xFE : (0xFF00u >> (extra + 1)) & 0xFF;
    out[0] = char(lead | unsigned(n));
    return out;
}

// One encoder's frame given the stream-wide frame number: the header's number and CRC-8, and
// the frame's CRC-16, recomputed.
QByteArray renumbered(const char *frame, qsizetype size, std::uint64_t number)
{
    const auto lead = std::uint8_t(frame[4]);
    const int numberBytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : lead < 0xFE ? 6 : 7;
    const int blockCode = (std::uint8_t(frame[2]) >> 4) & 0x0F;
    const int rateCode = std::uint8_t(frame[2]) & 0x0F;
    const int optional = (blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0) +
                         (rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0);
    const qsizetype headerEnd = 4 + numberBytes + optional; // the CRC-8's place
    const QByteArray coded = codedNumber(number);
    QByteArray out;
    out.reserve(size - numberBytes + coded.size());
    out.append(frame, 4).append(coded).append(frame + 4 + numberBytes, optional);
    out += char(crc8(reinterpret_cast<const std::uint8_t *>(out.constData()), out.size()));
    out.append(frame + headerEnd + 1, size - headerEnd - 3);
    const std::uint16_t check = crc16(out.constData(), out.size());
    out += char(check >> 8);
    out += char(check & 0xFF);
    return out;
}

struct Span {
    std::vector<QByteArray> frames; // renumbered
    QByteArray samples;             // little-endian, as the MD5 signature takes them
    std::int64_t length = 0;
};

class Encoding {
public:
    Encoding(const QString &source, int bits, const CancellationToken &token) : source_(source), bits_(bits), token_(token)
    {
        AudioFileReader reader(source, token);
        const AudioFileFormat &format = reader.fileFormat();
        if (format.codec != AudioCodecKind::lpcm || format.isFloat || format.bitsPerChannel != bits ||
            (bits != 16 && bits != 24) || format.channels < 1 || format.channels > 8 || format.sampleRate < 1 ||
            format.sampleRate > 655350)
            throw AudioFileError(AudioFileError::Kind::invalidArgument, AVERROR(EINVAL), encodingText,
                                 QStringLiteral("the source is not integer PCM of the FLAC's depth"));
        channels_ = format.channels;
        rate_ = int(format.sampleRate);
        frames_ = reader.length();
        opened_.emplace(std::move(reader));
        spans_ = (frames_ + spanFrames - 1) / spanFrames;
    }

    std::int64_t frames() const { return frames_; }
    int channels() const { return channels_; }
    int rate() const { return rate_; }
    std::int64_t spans() const { return spans_; }

    // Encodes on worker threads and hands each span to write in order.
    void run(const std::function<void(Span &)> &write)
    {
        // Starting threads costs more than sharing out a lone span and a short tail would save.
        if (frames_ <= spanFrames + spanFrames / 4) {
            for (std::int64_t index = 0; index < spans_; ++index) {
                Span span = encodeSpan(*opened_, index);
                write(span);
            }
            return;
        }
        const int workers = int(std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 8));
        window_ = workers + 2;
        std::vector<std::jthread> threads;
        for (int i = 0; i < std::min<std::int64_t>(workers, spans_); ++i)
            threads.push_back(startThread([this] { work(); }));
        try {
            for (std::int64_t index = 0; index < spans_; ++index) {
                Span span;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [&] { return done_.count(index) || error_; });
                    if (error_)
                        std::rethrow_exception(error_);
                    span = std::move(done_[index]);
                    done_.erase(index);
                    written_ = index + 1;
                }
                room_.notify_all();
                write(span);
            }
        } catch (...) {
            stop();
            throw;
        }
    }

private:
    void stop()
    {
        std::lock_guard lock(mutex_);
        if (!error_)
            error_ = std::make_exception_ptr(Cancelled());
        ready_.notify_all();
        room_.notify_all();
    }

    void work()
    {
        try {
            // The first worker takes the reader already open: opening one costs as much as
            // encoding a short file.
            std::optional<AudioFileReader> reader;
            {
                std::lock_guard lock(mutex_);
                reader.swap(opened_);
            }
            if (!reader)
                reader.emplace(source_, token_);
            for (;;) {
                std::int64_t index = 0;
                {
                    std::unique_lock lock(mutex_);
                    room_.wait(lock, [&] { return error_ || next_ >= spans_ || next_ < written_ + window_; });
                    if (error_ || next_ >= spans_)
                        return;
                    index = next_++;
                }
                Span span = encodeSpan(*reader, index);
                std::lock_guard lock(mutex_);
                done_[index] = std::move(span);
                ready_.notify_one();
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!error_)
                error_ = std::current_exception();
            ready_.notify_all();
            room_.notify_all();
        }
    }

    // Fills samples from the source's frame start on; any failure is the source's.
    void readSource(AudioFileReader &reader, std::int64_t start, std::span<std::int32_t> samples) const
    {
        const auto frames = std::int64_t(samples.size()) / channels_;
        try {
            reader.seek(start);
            for (std::int64_t read = 0; read < frames;) {
                const std::int64_t n = reader.readInt32Interleaved(samples.data() + read * channels_, frames - read);
                if (n == 0)
                    throw AudioFileError(AudioFileError::Kind::malformed, AVERROR_EOF, encodingText,
                                         QStringLiteral("the source ended early"));
                read += n;
            }
        } catch (const AudioFileError &error) {
            throw SourceReadError(error);
        }
    }

    Span encodeSpan(AudioFileReader &reader, std::int64_t index)
    {
        token_.throwIfCancelled();
        Span span;
        const std::int64_t start = index * spanFrames;
        span.length = std::min(spanFrames, frames_ - start);
        // Kept for the thread's next span: a fresh megabyte for every short file costs more in
        // page faults than its encoding.
        thread_local std::vector<std::int32_t> scratch;
        const size_t count = size_t(span.length * channels_);
        if (scratch.size() < count)
            scratch.resize(count);
        const std::span<std::int32_t> samples(scratch.data(), count);
        readSource(reader, start, samples);
        const int sampleBytes = bits_ / 8;
        // Shared with the span once filled; while an earlier span still holds it, data() detaches.
        thread_local QByteArray littleEndian;
        littleEndian.resize(qsizetype(samples.size()) * sampleBytes);
        auto *bytes = reinterpret_cast<std::uint8_t *>(littleEndian.data());
        // One loop per depth, so that the compiler sees a fixed byte count.
        if (bits_ == 16) {
            for (std::int32_t &value : samples) {
                value >>= 16;
                *bytes++ = std::uint8_t(value);
                *bytes++ = std::uint8_t(value >> 8);
            }
        } else {
            for (std::int32_t &value : samples) {
                value >>= 8;
                *bytes++ = std::uint8_t(value);
                *bytes++ = std::uint8_t(value >> 8);
                *bytes++ = std::uint8_t(value >> 16);
            }
        }
        span.samples = littleEndian;

        std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
        FLAC__StreamEncoder *e = encoder.get();
        struct Sink {
            Span *span;
            std::uint64_t firstFrame;
        } sink{&span, std::uint64_t(start / blockFrames)};
        const bool configured = e && FLAC__stream_encoder_set_channels(e, unsigned(channels_)) &&
                                FLAC__stream_encoder_set_bits_per_sample(e, unsigned(bits_)) &&
                                FLAC__stream_encoder_set_sample_rate(e, unsigned(rate_)) &&
                                FLAC__stream_encoder_set_compression_level(e, 5) &&
                                FLAC__stream_encoder_set_blocksize(e, blockFrames) &&
                                // A span's own signature is of no use: the stream's is taken
                                // over all the audio as the spans are written.
                                FLAC__stream_encoder_set_do_md5(e, false);
        const auto write = [](const FLAC__StreamEncoder *, const FLAC__byte buffer[], size_t bytes, uint32_t samples,
                              uint32_t frame, void *client) {
            auto *to = static_cast<Sink *>(client);
            // Metadata comes with no samples; the stream's own STREAMINFO is written at the end.
            if (samples > 0)
                to->span->frames.push_back(
                    renumbered(reinterpret_cast<const char *>(buffer), qsizetype(bytes), to->firstFrame + frame));
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        };
        if (!configured ||
            FLAC__stream_encoder_init_stream(e, write, nullptr, nullptr, nullptr, &sink) != FLAC__STREAM_ENCODER_INIT_STATUS_OK ||
            !FLAC__stream_encoder_process_interleaved(e, samples.data(), unsigned(span.length)) ||
            !FLAC__stream_encoder_finish(e))
            throw AudioFileError(AudioFileError::Kind::codec, e ? int(FLAC__stream_encoder_get_state(e)) : 0, encodingText);
        return span;
    }

    const QString source_;
    const int bits_;
    const CancellationToken token_;
    int channels_ = 0;
    int rate_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t spans_ = 0;
    std::int64_t window_ = 2;

    std::mutex mutex_;
    // Workers wait for room in the window, the writer for the next span: each is woken alone.
    std::condition_variable_any ready_;
    std::condition_variable_any room_;
    std::optional<AudioFileReader> opened_; // thread: under mutex_
    std::int64_t next_ = 0;                // thread: under mutex_
    std::int64_t written_ = 0;             // thread: under mutex_
    std::map<std::int64_t, Span> done_;    // thread: under mutex_
    std::exception_ptr error_;             // thread: under mutex_
};

QByteArray bigEndian(std::uint64_t value, int count)
{
    QByteArray out(count, '\0');
    for (int i = count - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

} // namespace

void encode(const QString &source, const QString &destination, int bitsPerSample,
            const std::function<void(double)> &progress, const CancellationToken &token, const QByteArray &metadata)
{
    Encoding encoding(source, bitsPerSample, token);
    ExclusiveFile file = ExclusiveFile::create(destination, O_WRONLY);
    try {
        constexpr int headerBytes = 4 + 4 + 34;
        file.handle().writeAll(QByteArray(headerBytes, '\0') + metadata);
        QCryptographicHash md5(QCryptographicHash::Md5);
        std::uint32_t smallest = 0xFFFFFF, largest = 0;
        std::int64_t written = 0;
        int percent = 0;
        if (progress)
            progress(0);
        encoding.run([&](Span &span) {
            qsizetype size = 0;
            for (const QByteArray &frame : span.frames)
                size += frame.size();
            QByteArray bytes;
            bytes.reserve(size);
            for (const QByteArray &frame : span.frames) {
                smallest = std::min<std::uint32_t>(smallest, std::uint32_t(frame.size()));
                largest = std::max<std::uint32_t>(largest, std::uint32_t(frame.size()));
                bytes += frame;
            }
            file.handle().writeAll(bytes);
            md5.addData(span.samples);
            written += span.length;
            token.throwIfCancelled();
            const int now = int(100 * written / std::max<std::int64_t>(1, encoding.frames()));
            if (progress && now != percent)
                progress(double(written) / double(encoding.frames())), percent = now;
        });
        if (largest == 0)
            smallest = 0;
        QByteArray header("fLaC");
        header += bigEndian(metadata.isEmpty() ? 0x80000022 : 0x22, 4); // STREAMINFO, 34 bytes
        header += bigEndian(blockFrames, 2) + bigEndian(blockFrames, 2);
        header += bigEndian(smallest, 3) + bigEndian(largest, 3);
        header += bigEndian((std::uint64_t(encoding.rate()) << 44) | (std::uint64_t(encoding.channels() - 1) << 41) |
                                (std::uint64_t(bitsPerSample - 1) << 36) | std::uint64_t(encoding.frames()),
                            8);
        header += md5.result();
        file.handle().pwriteAll(0, header);
        file.handle().close();
    } catch (...) {
        file.remove();
        throw;
    }
}

} // namespace tampod::FlacFileEncoder
