#pragma once

#include <QList>
#include <QString>

#include <cstdint>

namespace tampod {

// A manual figure, bound to one section of one article; resourceName names a PNG image.
struct HelpIllustration {
    QString articleTitle;
    QString sectionID;
    QString resourceName;
    QString title;
    QString caption;
    QString accessibilityDescription;

    static const QList<HelpIllustration> &all();
    // The figures of the article with exactly this title, in list order.
    static QList<HelpIllustration> figures(const QString &articleTitle);
};

// The section the section-loop figures show. The captions' times are these frames rounded to
// milliseconds, and the figure images are drawn from the same bounds.
struct HelpFigureSection {
    static constexpr int sampleRate = 44100;
    static constexpr std::int64_t startFrame = 2'777'859;
    static constexpr std::int64_t lengthFrames = 66'401;
    static constexpr int plays = 8;
};

} // namespace tampod
