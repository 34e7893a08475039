#include "library/rex_info.h"

#include "core/number_text.h"
#include "library/rex_error.h"

#include <cmath>

namespace tampod {

namespace {

double unroundedFrames(const REXInfo &info)
{
    return static_cast<double>(info.ppqLength) / 15'360.0 * 60'000.0 / static_cast<double>(info.originalTempo) *
           static_cast<double>(info.sampleRate);
}

} // namespace

REXInfo REXInfo::fromWords(const std::vector<std::int32_t> &words)
{
    if (words.size() != 9)
        throw REXError::verification();
    REXInfo info;
    info.channels = words[0];
    info.sampleRate = words[1];
    info.slices = words[2];
    info.savedTempo = words[3];
    info.originalTempo = words[4];
    info.ppqLength = words[5];
    info.bitDepth = words[8];

    const bool within = (info.channels == 1 || info.channels == 2) && info.sampleRate >= minimumSampleRate &&
                        info.sampleRate <= maximumSampleRate && info.slices >= 0 && info.slices <= 100'000 &&
                        info.originalTempo >= minimumTempo && info.originalTempo <= maximumTempo && info.ppqLength >= 1 &&
                        info.bitDepth >= 1 && info.bitDepth <= 32;
    if (!within)
        throw REXError::limits();
    const double frames = unroundedFrames(info);
    if (frames < 1.0 || frames * info.channels * 4.0 > maximumDecodedBytes)
        throw REXError::limits();
    return info;
}

std::int64_t REXInfo::frames() const
{
    return NumberText::toInt64(std::round(unroundedFrames(*this))).value_or(0);
}

} // namespace tampod
