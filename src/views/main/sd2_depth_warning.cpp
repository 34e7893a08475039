#include "views/main/sd2_depth_warning.h"

namespace tampod {

QString SD2DepthWarning::title() const
{
    return QStringLiteral("Try ") + QString::number(bitDepth) + QStringLiteral("-bit interpretation?");
}

QString SD2DepthWarning::tryButton() const
{
    return QStringLiteral("Try ") + QString::number(bitDepth) + QStringLiteral("-bit");
}

QString SD2DepthWarning::message() const
{
    QString text = QStringLiteral(
        "This file is missing its original audio settings. The wrong bit depth can turn the recording into loud, "
        "full-scale white-noise-like sound, even when the file can be read without an error.\n\n"
        "This changes how the original bytes are read; it does not convert the recording to a different quality. "
        "Cancel keeps your current interpretation and volume. ");
    if (bitDepth == 24)
        text += QStringLiteral("Trying 8-, 24- or 32-bit caps the app’s listening volume at ")
            + QString::number(trialVolumeCapPercent)
            + QStringLiteral("% or keeps it lower. Reselecting 16-bit restores your previous volume once that "
                             "interpretation is ready. Raise it gradually only after checking the sound. System "
                             "volume and your output device are unchanged.");
    else
        text += QStringLiteral("Returning from a 24-bit trial restores your previous listening volume once 16-bit "
                               "is ready. Playback stays paused until you press Play.");
    return text + QStringLiteral(" Your original file stays unchanged.");
}

} // namespace tampod
