#include "views/sd2/sd2_view_rules.h"

#include "views/sd2/sd2_view_texts.h"

#include "core/number_text.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"
#include "sd2/sd2_pair_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tampod::SD2ViewRules {

namespace {

// The channel count the pairing list goes by: the working copy's, else the recovered copy's
// (none while a recovery has not made one yet), else what the import read.
std::optional<int> knownChannels(const AudioTrack &track)
{
    if (track.metadataAudio)
        return track.metadataAudio->metadata.channels;
    if (track.recovery) {
        if (track.recovery->copy)
            return track.recovery->copy->channels();
        return std::nullopt;
    }
    if (track.sd2Format)
        return track.sd2Format->channels;
    return std::nullopt;
}

} // namespace

QList<AudioTrack> monoTracks(const QList<AudioTrack> &tracks)
{
    QList<AudioTrack> mono;
    for (const AudioTrack &track : tracks)
        if (track.isSD2() && !track.pair && knownChannels(track) == 1)
            mono.append(track);
    return mono;
}

QList<AudioTrack> leftTracks(const QList<AudioTrack> &mono)
{
    QList<AudioTrack> left;
    for (const AudioTrack &track : mono) {
        const auto name = SD2Identification::channelName(track.projectedURL());
        if (name && name->channel == u"L")
            left.append(track);
    }
    return left;
}

QList<AudioTrack> rightTracks(const QList<AudioTrack> &mono, const std::optional<AudioTrack> &left)
{
    QList<AudioTrack> right;
    if (!left)
        return right;
    for (const AudioTrack &track : mono)
        if (!SD2PairModel::issue(*left, track))
            right.append(track);
    return right;
}

std::optional<QString> pairIssue(const std::optional<AudioTrack> &left, const std::optional<AudioTrack> &right)
{
    if (!left || !right)
        return SD2ViewText::chooseBoth;
    return SD2PairModel::issue(*left, *right);
}

std::optional<int> validRate(const QString &text)
{
    qsizetype at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-'))
        negative = text[at++] == u'-';
    if (at == text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        // Accumulated as a negative number, whose range is the larger one.
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<std::int64_t>::min())
            return std::nullopt;
        value = -value;
    }
    if (value < minimumRate || value > maximumRate)
        return std::nullopt;
    return int(value);
}

int percent(double progress)
{
    if (!std::isfinite(progress))
        return 0;
    return int(NumberText::toInt64(std::clamp(progress, 0.0, 1.0) * 100).value_or(0));
}

QString kilohertz(int sampleRate)
{
    return QString::asprintf("%g", sampleRate / 1000.0);
}

QString selectedProgressText(const SD2RecoveryQueue::Status &status, const std::optional<SD2Metadata> &parameters)
{
    if (status.queued)
        return SD2ViewText::queued;
    const std::int64_t bits = 8 * std::int64_t(parameters ? parameters->sampleBytes : 2);
    return SD2ViewText::preparing + NumberText::wholeQ(bits) + SD2ViewText::bitComma +
           kilohertz(status.parameters.sampleRate) + SD2ViewText::kilohertzEllipsis +
           NumberText::wholeQ(percent(status.progress)) + SD2ViewText::percent;
}

QString backgroundProgressText(const SD2RecoveryQueue::Status &status)
{
    return SD2ViewText::recovering + status.name + SD2ViewText::ellipsisSpace + NumberText::wholeQ(percent(status.progress)) +
           SD2ViewText::percent;
}

QString recoveryHint(const SD2Recovery &recovery)
{
    if (recovery.copy)
        return SD2ViewText::hintWithCopy;
    if (recovery.requested)
        return SD2ViewText::hintWithRequest;
    return SD2ViewText::hintWithNothing;
}

} // namespace tampod::SD2ViewRules
