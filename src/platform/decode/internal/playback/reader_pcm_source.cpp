#include "platform/decode/internal/playback/reader_pcm_source.h"

#include "platform/decode/audio_file_reader.h"

namespace tampod {

namespace {

class ReaderPcmSource final : public PcmSource {
public:
    explicit ReaderPcmSource(const QString &path) : reader_(path), length_(reader_.length()) {}
    int channels() const override { return reader_.channels(); }
    double sampleRate() const override { return reader_.fileSampleRate(); }
    std::int64_t length() const override { return length_; }
    void seek(std::int64_t frame) override { reader_.seek(frame); }
    std::int64_t read(float *interleaved, std::int64_t frames) override
    {
        return reader_.readFloatInterleaved(interleaved, frames);
    }

private:
    AudioFileReader reader_;
    const std::int64_t length_;
};

} // namespace

std::unique_ptr<PcmSource> openPcmSource(const QString &path)
{
    return std::make_unique<ReaderPcmSource>(path);
}

} // namespace tampod
