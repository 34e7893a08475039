#include "library/sd2_pair_audio.h"

#include "library/sd2_identification.h"

namespace tampod {

namespace {

QString pairName(const AudioTrack &left, const AudioTrack &right)
{
    if (const auto parsed = SD2Identification::channelName(left.projectedURL()))
        return parsed->stem;
    return left.exportStem() + QStringLiteral(" + ") + right.exportStem();
}

} // namespace

SD2PairAudio::SD2PairAudio(AudioTrack left, AudioTrack right, std::shared_ptr<const SD2RecoveredCopy> copy)
    : left_(std::move(left)), right_(std::move(right)), copy_(std::move(copy)), name_(pairName(left_, right_))
{
}

} // namespace tampod
