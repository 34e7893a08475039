#include "export/loop_export_options.h"

#include <QLocale>

#include <cmath>

namespace tampod {

namespace {

bool matches(const PreparedSection *section, const AudioTrack &track)
{
    return section && section->source().id == track.id && section->source().audioURL() == track.audioURL() &&
           section->startFrame() >= 0 && section->startFrame() < section->endFrame() &&
           section->endFrame() <= section->totalFrames() && std::isfinite(section->sampleRate()) &&
           section->sampleRate() > 0;
}

} // namespace

QStringList LoopExportOptions::issues(const AudioTrack &track) const
{
    QStringList issues;
    if (repeatCount < 1 || repeatCount > maximumRepeats)
        issues << QStringLiteral("Enter a repeat count from 1 to 999.");
    // The source's working copy may have been replaced since the section was rendered.
    if (!matches(section.get(), track))
        issues << QStringLiteral("The loop selection does not match this source. Close Export and select the "
                                 "loop again.");
    return issues;
}

QString LoopExportOptions::durationText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("—");
    // + 0.0 turns negative zero into zero, so it never shows a minus sign.
    return QLocale().toString(seconds + 0.0, 'f', 3) + QStringLiteral(" seconds");
}

} // namespace tampod
