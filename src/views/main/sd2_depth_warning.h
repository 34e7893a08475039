#pragma once

#include <QString>

namespace tampod {

// The confirmation before trying another bit depth on an SD2 file whose parameters are missing.
struct SD2DepthWarning {
    int bitDepth = 16;

    // The listening-volume cap while a depth other than 16 bits is tried, in percent.
    static constexpr int trialVolumeCapPercent = 5;

    QString title() const;
    QString tryButton() const;
    QString message() const;
};

} // namespace tampod
