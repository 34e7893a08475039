#include "library/sd2_recovered_copy.h"

namespace tampod {

SD2RecoveredCopy::SD2RecoveredCopy(QUrl url, int sampleRate, std::int64_t frames, QString pcmDigest,
                                   int sampleBytes, int channels)
    : url_(std::move(url)), sampleRate_(sampleRate), frames_(frames), pcmDigest_(std::move(pcmDigest)),
      sampleBytes_(sampleBytes), channels_(channels),
      folder_(WorkingCopyFolder::folderOf(url_.toLocalFile()))
{
}

} // namespace tampod
