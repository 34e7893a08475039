#include "playback/prepared_section.h"

namespace tampod {

PreparedSection::PreparedSection(AudioTrack source, QUrl url, std::int64_t start, std::int64_t end,
                                 std::int64_t total, double sampleRate, std::optional<QUrl> directory)
    : source_(std::move(source)), preparedURL_(std::move(url)), startFrame_(start), endFrame_(end),
      totalFrames_(total), sampleRate_(sampleRate), directory_(std::move(directory)),
      folder_(directory_ ? directory_->toLocalFile() : QString())
{
}

QUrl PreparedSection::url() const
{
    return directory_ ? preparedURL_ : source_.audioURL();
}

SectionRange PreparedSection::range() const
{
    if (totalFrames_ <= 0)
        return {};
    const double total = double(totalFrames_);
    return SectionRange{double(startFrame_) / total, double(endFrame_) / total}.validOrWhole();
}

} // namespace tampod
