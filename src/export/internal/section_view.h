#pragma once

#include "playback/prepared_section.h"

#include <QUrl>

#include <cstdint>

namespace tampod {

// What the exporters read of a prepared loop section: the file that holds it and its length
// and rate in the source's frames.
struct SectionView {
    QUrl url;
    std::int64_t frames = 0;
    double sampleRate = 0;

    static SectionView of(const PreparedSection &section)
    {
        return {section.url(), section.endFrame() - section.startFrame(), section.sampleRate()};
    }
};

} // namespace tampod
