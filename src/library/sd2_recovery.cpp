#include "library/sd2_recovery.h"

#include "core/number_text.h"

namespace tampod {

QString SD2Recovery::summary() const
{
    int sampleBytes = 0;
    int sampleRate = 0;
    int channels = 0;
    if (copy) {
        sampleBytes = copy->sampleBytes();
        sampleRate = copy->sampleRate();
        channels = copy->channels();
    } else if (requested) {
        sampleBytes = requested->sampleBytes;
        sampleRate = requested->sampleRate;
        channels = requested->channels;
    } else {
        return QStringLiteral("Missing SD2 metadata: choose bit depth, sample rate and channels before recovery.");
    }
    return QStringLiteral("SD2 recovery: assumed signed ") + NumberText::wholeQ(std::int64_t(sampleBytes) * 8) +
           QStringLiteral("-bit big-endian PCM; ") + NumberText::wholeQ(sampleRate) + QStringLiteral(" Hz; ") +
           (channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo")) + QLatin1Char('.');
}

} // namespace tampod
