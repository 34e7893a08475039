#pragma once

#include "export/loop_export_options.h"

#include <QUrl>

#include <cstdint>

namespace tampod {

// What the exporters read of a prepared loop section: the file that holds it and its length
// and rate in the source's frames.
struct SectionView {
    QUrl url;
    std::int64_t frames = 0;
    double sampleRate = 0;

    template <typename Section>
    static SectionView of(const Section &section)
    {
        if constexpr (requires { section.url(); })
            return {section.url(), section.endFrame() - section.startFrame(), section.sampleRate()};
        else
            return {section.source.audioURL(), section.endFrame - section.startFrame, section.sampleRate};
    }
};

} // namespace tampod
