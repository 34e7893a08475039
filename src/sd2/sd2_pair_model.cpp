#include "sd2/sd2_pair_model.h"

#include "library/sd2_identification.h"

namespace tampod::SD2PairModel {

namespace {

QUrl folderOf(const AudioTrack &track)
{
    return track.projectedURL().adjusted(QUrl::RemoveFilename);
}

} // namespace

std::optional<QString> issue(const AudioTrack &left, const AudioTrack &right)
{
    if (left.id == right.id || left.projectedURL() == right.projectedURL())
        return QStringLiteral("Choose two different files.");

    const auto leftName = SD2Identification::channelName(left.projectedURL());
    const auto rightName = SD2Identification::channelName(right.projectedURL());
    if (!leftName || !rightName || leftName->channel != u"L" || rightName->channel != u"R" ||
        leftName->stem != rightName->stem || folderOf(left) != folderOf(right))
        return QStringLiteral("Choose matching .L and .R files with the same recording name from the same folder. "
                              "Unrelated recordings cannot be paired.");

    const QString unplayable =
        QStringLiteral("Choose two playable mono SD2 files. Recover missing parameters before pairing.");
    if (left.pair || right.pair || left.waitsForRecovery() || right.waitsForRecovery())
        return unplayable;
    const auto leftParameters = left.sd2Parameters(), rightParameters = right.sd2Parameters();
    if (!leftParameters || !rightParameters || leftParameters->channels != 1 || rightParameters->channels != 1)
        return unplayable;
    if (leftParameters->sampleBytes != rightParameters->sampleBytes ||
        leftParameters->sampleRate != rightParameters->sampleRate)
        return QStringLiteral("The mono files must have matching sample rates and bit depths. No automatic "
                              "resampling is performed.");

    const auto leftFrames = left.sd2FrameCount(), rightFrames = right.sd2FrameCount();
    if (!leftFrames || !rightFrames || *leftFrames < 1 || *leftFrames != *rightFrames)
        return QStringLiteral("Left and right must have the same exact audio length (sample-frame count). No "
                              "trimming or padding is applied.");
    return std::nullopt;
}

std::optional<AudioTrack> suggestedPartner(const AudioTrack &track, const QList<AudioTrack> &tracks)
{
    const auto name = SD2Identification::channelName(track.projectedURL());
    if (!name)
        return std::nullopt;
    const bool isLeft = name->channel == u"L";
    std::optional<AudioTrack> found;
    for (const AudioTrack &candidate : tracks) {
        const auto other = SD2Identification::channelName(candidate.projectedURL());
        if (!other || folderOf(candidate) != folderOf(track) || other->stem != name->stem ||
            other->channel == name->channel)
            continue;
        if (isLeft ? issue(track, candidate) : issue(candidate, track))
            continue;
        if (found)
            return std::nullopt; // ambiguous: no suggestion
        found = candidate;
    }
    return found;
}

} // namespace tampod::SD2PairModel
