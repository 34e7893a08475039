#include "views/export_form/form_text.h"

#include "views/kit/theme.h"

#include <QLabel>

namespace tampod::FormText {

namespace {

int pixelSize(TextStyle style)
{
    switch (style) {
    case TextStyle::title2:
        return 17;
    case TextStyle::headline:
    case TextStyle::body:
        return 13;
    case TextStyle::callout:
        return 12;
    case TextStyle::caption:
        return 11;
    }
    return 13;
}

} // namespace

void apply(QWidget *widget, TextStyle style, bool secondary)
{
    QFont font = widget->font();
    font.setPixelSize(pixelSize(style));
    font.setBold(style == TextStyle::title2 || style == TextStyle::headline);
    widget->setFont(font);
    if (secondary) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, Theme::secondaryText);
        widget->setPalette(palette);
    }
}

QLabel *label(const QString &text, TextStyle style, bool secondary, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    apply(label, style, secondary);
    return label;
}

} // namespace tampod::FormText
