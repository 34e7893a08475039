#include "bpm/internal/analysis_signal.h"

#include "core/file_handle.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tampod::AnalysisSignal {

namespace {
constexpr qsizetype block = 16384;
constexpr float ceiling = 0.98f;
} // namespace

bool addChannel(float *out, const float *samples, qsizetype frames, float channels)
{
    // An integer flag instead of an early exit keeps the loop vectorisable.
    int notFinite = 0;
    for (qsizetype f = 0; f < frames; ++f) {
        const float x = samples[f];
        notFinite |= !(std::fabs(x) <= std::numeric_limits<float>::max());
        out[f] += x / channels;
    }
    return notFinite == 0;
}

void tameLevel(std::vector<float> &signal, const BPMCancellation &cancellation)
{
    const qsizetype count = qsizetype(signal.size());
    float peak = 0;
    for (qsizetype start = 0; start < count; start += block) {
        cancellation.check();
        const qsizetype end = std::min(start + block, count);
        for (qsizetype i = start; i < end; ++i)
            peak = std::max(peak, std::fabs(signal[size_t(i)]));
    }
    if (!(peak > ceiling))
        return;
    const float factor = ceiling / peak;
    for (qsizetype start = 0; start < count; start += block) {
        cancellation.check();
        const qsizetype end = std::min(start + block, count);
        for (qsizetype i = start; i < end; ++i)
            signal[size_t(i)] *= factor;
    }
}

QString fileStamp(const QString &path)
{
    const auto status = FileHandle::openOutside(path, LinkPolicy::Follow).status();
    return QStringLiteral("%1:%2:%3:%4")
        .arg(QString::number(quint64(status.st_dev)), QString::number(quint64(status.st_ino)),
             QString::number(qint64(status.st_size)), QString::number(qint64(status.st_mtim.tv_sec)));
}

} // namespace tampod::AnalysisSignal
