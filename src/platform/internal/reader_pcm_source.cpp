#include "platform/internal/reader_pcm_source.h"

#include "core/error.h"

#include <sndfile.h>

namespace tampod {

namespace {

// Stand-in until the file reader lands: PCM files through libsndfile.
class SndfilePcmSource final : public PcmSource {
public:
    explicit SndfilePcmSource(const QString &path)
    {
        file_ = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info_);
        if (!file_)
            throw Error(QStringLiteral("audio file"), sf_error(nullptr), QString::fromUtf8(sf_strerror(nullptr)));
    }
    ~SndfilePcmSource() override { sf_close(file_); }
    int channels() const override { return info_.channels; }
    double sampleRate() const override { return info_.samplerate; }
    std::int64_t length() const override { return info_.frames; }
    void seek(std::int64_t frame) override { sf_seek(file_, frame, SEEK_SET); }
    std::int64_t read(float *interleaved, std::int64_t frames) override
    {
        return sf_readf_float(file_, interleaved, frames);
    }

private:
    SF_INFO info_{};
    SNDFILE *file_ = nullptr;
};

} // namespace

std::unique_ptr<PcmSource> openPcmSource(const QString &path)
{
    return std::make_unique<SndfilePcmSource>(path);
}

} // namespace tampod
