#include "export/sd2_pair_issue.h"

#include "library/sd2_identification.h"

namespace tampod {

std::optional<QString> sd2PairIssue(const AudioTrack &left, const AudioTrack &right)
{
    const QString different = QStringLiteral("Choose two different files.");
    const QString unmatched = QStringLiteral("Choose matching .L and .R files with the same recording name from "
                                             "the same folder. Unrelated recordings cannot be paired.");
    const QString unplayable = QStringLiteral("Choose two playable mono SD2 files. Recover missing parameters "
                                              "before pairing.");

    if (left.id == right.id || left.projectedURL() == right.projectedURL())
        return different;

    // Names are judged as loaded, not by where the files are now.
    const auto leftName = SD2Identification::channelName(left.projectedURL());
    const auto rightName = SD2Identification::channelName(right.projectedURL());
    if (!leftName || !rightName || leftName->channel != QLatin1String("L") ||
        rightName->channel != QLatin1String("R") || leftName->stem != rightName->stem ||
        left.projectedURL().adjusted(QUrl::RemoveFilename) != right.projectedURL().adjusted(QUrl::RemoveFilename))
        return unmatched;

    const auto pending = [](const AudioTrack &track) { return track.recovery && !track.recovery->copy; };
    if (left.pair || right.pair || pending(left) || pending(right))
        return unplayable;
    const auto leftParameters = left.sd2Parameters();
    const auto rightParameters = right.sd2Parameters();
    if (!leftParameters || !rightParameters || leftParameters->channels != 1 || rightParameters->channels != 1)
        return unplayable;
    if (leftParameters->sampleBytes != rightParameters->sampleBytes ||
        leftParameters->sampleRate != rightParameters->sampleRate)
        return QStringLiteral("The mono files must have matching sample rates and bit depths. No automatic "
                              "resampling is performed.");

    const auto leftFrames = left.sd2FrameCount();
    const auto rightFrames = right.sd2FrameCount();
    if (!leftFrames || !rightFrames || *leftFrames < 1 || *leftFrames != *rightFrames)
        return QStringLiteral("Left and right must have the same exact audio length (sample-frame count). No "
                              "trimming or padding is applied.");
    return std::nullopt;
}

} // namespace tampod
