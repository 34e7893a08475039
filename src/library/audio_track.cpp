#include "library/audio_track.h"

#include "core/native_path.h"
#include "core/number_text.h"
#include "library/sd2_identification.h"
#include "library/sd2_pair_audio.h"

#include <cmath>
#include <limits>

namespace tampod {

namespace {

// The text after the last dot of the file name; a name that only starts with a dot has none.
QString pathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

QString withoutExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

bool isTempo(const std::optional<double> &value)
{
    return value && std::isfinite(*value) && *value > 0;
}

AudioSourceFormat integerFormat(int sampleRate, int sampleBytes, bool assumed)
{
    AudioSourceFormat format;
    format.sampleRate = static_cast<double>(sampleRate);
    format.resolution = AudioSourceFormat::Resolution::integer(sampleBytes * 8);
    format.assumed = assumed;
    return format;
}

SD2Metadata copyParameters(const SD2RecoveredCopy &copy)
{
    SD2Metadata metadata;
    metadata.sampleBytes = copy.sampleBytes();
    metadata.sampleRate = copy.sampleRate();
    metadata.channels = copy.channels();
    return metadata;
}

QString twoDigits(std::int64_t value)
{
    const QString text = NumberText::wholeQ(value);
    return text.size() < 2 ? QStringLiteral("0") + text : text;
}

} // namespace

bool AudioTrack::isSD2() const
{
    if (sd2Format || metadataAudio || recovery || pair)
        return true;
    return pathExtension(projectedURL().fileName()).toLower() == QLatin1String("sd2");
}

QUrl AudioTrack::audioURL() const
{
    if (pair) {
        // Only the pair service makes pairs, each with its verified copy, and records are never
        // read back from disk; a copy whose file went missing still has its URL, which the
        // missing-file path handles.
        Q_ASSERT(pair->copy());
        return pair->copy()->url();
    }
    if (metadataAudio)
        return metadataAudio->copy->url();
    if (recovery && recovery->copy)
        return recovery->copy->url();
    if (rexAudio)
        return rexAudio->url();
    return url();
}

std::optional<double> AudioTrack::effectiveBPM() const
{
    for (const auto *candidate : {&bpm, &inheritedBPM, &detectedBPM}) {
        if (isTempo(*candidate))
            return *candidate;
    }
    return std::nullopt;
}

AudioSourceFormat AudioTrack::sourceFormat() const
{
    if (pair) {
        const auto &copy = *pair->copy();
        const bool assumed = pair->left().sourceFormat().assumed || pair->right().sourceFormat().assumed;
        return integerFormat(copy.sampleRate(), copy.sampleBytes(), assumed);
    }
    if (metadataAudio)
        return integerFormat(metadataAudio->metadata.sampleRate, metadataAudio->metadata.sampleBytes, false);
    if (recovery && recovery->copy)
        return integerFormat(recovery->copy->sampleRate(), recovery->copy->sampleBytes(), true);
    if (recovery) {
        AudioSourceFormat pending;
        pending.assumed = true;
        return pending;
    }
    return importedFormat;
}

std::optional<std::int64_t> AudioTrack::sd2FrameCount() const
{
    if (pair)
        return pair->copy()->frames();
    if (metadataAudio)
        return metadataAudio->copy->frames();
    if (recovery && recovery->copy)
        return recovery->copy->frames();
    return importedSD2Frames;
}

std::optional<SD2Metadata> AudioTrack::sd2Parameters() const
{
    if (pair)
        return copyParameters(*pair->copy());
    if (metadataAudio)
        return metadataAudio->metadata;
    if (recovery && recovery->copy)
        return copyParameters(*recovery->copy);
    // A pending recovery's requested parameters are not in force yet.
    return sd2Format;
}

QList<QUrl> AudioTrack::originalURLs() const
{
    if (pair)
        return pair->left().originalURLs() + pair->right().originalURLs();
    return {url()};
}

QString AudioTrack::exportStem() const
{
    if (pair)
        return pair->name();
    const QString name = projectedURL().fileName();
    const QString extension = pathExtension(name).toLower();
    if (isSD2() && SD2Identification::channelName(projectedURL()) && extension != QLatin1String("sd2") &&
        extension != QLatin1String("sd2f"))
        return name;
    return withoutExtension(name);
}

QString AudioTrack::displayName() const
{
    if (pair)
        return pair->name() + QStringLiteral(" (L/R)");
    return displayedPath(projectedURL().fileName());
}

QString AudioTrack::durationText(double seconds)
{
    std::int64_t whole = 0;
    if (std::isfinite(seconds) && seconds > 0)
        whole = NumberText::toInt64(std::trunc(seconds)).value_or(std::numeric_limits<std::int64_t>::max());
    return twoDigits(whole / 60) + QLatin1Char(':') + twoDigits(whole % 60);
}

} // namespace tampod
