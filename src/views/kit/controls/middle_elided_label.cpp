#include "views/kit/controls/middle_elided_label.h"

#include "views/kit/accessibility/view_accessibility.h"

#include <QTextLayout>

#include <algorithm>

namespace tampod {

namespace {

// text broken into lines of width pixels, between words where it can, anywhere where it must.
QStringList wrapped(const QString &text, const QFont &font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        QString part = text.mid(line.textStart(), line.textLength());
        while (part.size() > 1 && part.back().isSpace())
            part.chop(1);
        lines << part;
    }
    layout.endLayout();
    return lines;
}

// What is shown of text in width pixels of font over at most maximumLines lines, the lines
// joined by '\n'; the whole text when it fits.
QString shortened(const QString &original, const QFont &font, int width, int maximumLines)
{
    const QFontMetrics metrics(font);
    if (width <= 0)
        return {};
    // A break inside a name is shown as a space, so that the lines stay as many as given.
    QString text = original;
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    if (maximumLines <= 1)
        return metrics.elidedText(text, Qt::ElideMiddle, width);
    QStringList lines = wrapped(text, font, width);
    if (lines.size() <= maximumLines)
        return lines.join(u'\n');
    // The longest shortening that still wraps onto the lines there are; one line's worth
    // always does.
    lines = {metrics.elidedText(text, Qt::ElideMiddle, width)};
    int low = width + 1;
    int high = maximumLines * width;
    while (low <= high) {
        const int budget = low + (high - low) / 2;
        const QStringList candidate = wrapped(metrics.elidedText(text, Qt::ElideMiddle, budget), font, width);
        if (candidate.size() <= maximumLines) {
            lines = candidate;
            low = budget + 1;
        } else {
            high = budget - 1;
        }
    }
    return lines.join(u'\n');
}

} // namespace

MiddleElidedLabel::MiddleElidedLabel(QWidget *parent, int maximumLines)
    : QLabel(parent)
    , maximumLines_(std::max(1, maximumLines))
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void MiddleElidedLabel::setFullText(const QString &text)
{
    if (text == fullText_)
        return;
    fullText_ = text;
    setAccessibleName(text);
    setPlainToolTip(this, text);
    elide();
    updateGeometry();
}

QSize MiddleElidedLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(fullText_), QLabel::sizeHint().height()};
}

QSize MiddleElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void MiddleElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void MiddleElidedLabel::elide()
{
    const QString shown = shortened(fullText_, font(), contentsRect().width(), maximumLines_);
    if (shown == text())
        return;
    // A change in the number of lines changes the height the label asks for.
    const bool sameLines = shown.count(u'\n') == text().count(u'\n');
    setText(shown);
    if (!sameLines)
        updateGeometry();
}

} // namespace tampod
