#include "platform/decode/flac_file_check.h"

#include "core/error.h"
#include "core/file_handle.h"

#include <FLAC/stream_decoder.h>

#include <cerrno>
#include <memory>
#include <unistd.h>

namespace tampod::FlacFileCheck {

namespace {

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder *decoder) const { FLAC__stream_decoder_delete(decoder); }
};

struct Check {
    int fd = -1;
    std::int64_t offset = 0;
    int readError = 0;
    const CancellationToken *token = nullptr;
    std::optional<Stream> info;
    std::int64_t decoded = 0;
    bool damaged = false;

    static Check &of(void *data) { return *static_cast<Check *>(data); }

    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                              void *data)
    {
        Check &c = of(data);
        if (c.token->isCancelled())
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        ssize_t n;
        do
            n = ::pread(c.fd, buffer, *bytes, c.offset);
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            c.readError = errno;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        *bytes = size_t(n);
        c.offset += n;
        return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                const FLAC__int32 *const[], void *data)
    {
        Check &c = of(data);
        const FLAC__FrameHeader &h = frame->header;
        if (!c.info || int(h.channels) != c.info->channels || int(h.sample_rate) != c.info->sampleRate
            || int(h.bits_per_sample) != c.info->bitsPerSample || std::int64_t(h.number.sample_number) != c.decoded
            || c.decoded + h.blocksize > c.info->frames) {
            c.damaged = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        c.decoded += h.blocksize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *metadata, void *data)
    {
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const auto &s = metadata->data.stream_info;
        of(data).info = Stream{std::int64_t(s.total_samples), int(s.channels), int(s.sample_rate),
                               int(s.bits_per_sample)};
    }

    static void error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *data)
    {
        of(data).damaged = true; // lost sync, a bad header or a CRC mismatch
    }
};

} // namespace

std::optional<Stream> decodeAll(const QString &path, const CancellationToken &token)
{
    token.throwIfCancelled();
    const FileHandle file = FileHandle::openOutside(path);
    Check check;
    check.fd = file.fd();
    check.token = &token;
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder(FLAC__stream_decoder_new());
    if (!decoder)
        throw std::bad_alloc();
    if (FLAC__stream_decoder_init_stream(decoder.get(), &Check::read, nullptr, nullptr, nullptr, nullptr,
                                         &Check::write, &Check::metadata, &Check::error, &check)
        != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return std::nullopt;
    const bool finished = FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
    token.throwIfCancelled();
    if (check.readError)
        throw SystemError(check.readError, QStringLiteral("read"));
    if (!finished || check.damaged || !check.info || check.info->frames < 1 || check.decoded != check.info->frames
        || FLAC__stream_decoder_get_state(decoder.get()) != FLAC__STREAM_DECODER_END_OF_STREAM)
        return std::nullopt;
    return check.info;
}

} // namespace tampod::FlacFileCheck
