#include "views/manual/help_typography.h"

#include "views/kit/accessibility/view_accessibility.h"

#include <optional>

namespace tampod {

namespace {

QFont makeFont(int pixelSize, std::optional<QFont::Weight> weight = std::nullopt)
{
    QFont font;
    font.setPixelSize(pixelSize);
    if (weight)
        font.setWeight(*weight);
    return font;
}

} // namespace

const QFont &HelpTypography::title()
{
    static const QFont title = makeFont(30, QFont::DemiBold);
    return title;
}

const QFont &HelpTypography::heading()
{
    static const QFont heading = makeFont(18, QFont::DemiBold);
    return heading;
}

const QFont &HelpTypography::body()
{
    static const QFont body = makeFont(16);
    return body;
}

SelectableText::SelectableText(const QString &text, QWidget *parent)
    : QLabel(parent)
    , plainText_(text)
{
    setFont(HelpTypography::body());
    setTextFormat(Qt::RichText);
    setText(QStringLiteral("<p style=\"margin:0; line-height:4px; -qt-line-height-type:line-distance;\">")
            + text.toHtmlEscaped() + QStringLiteral("</p>"));
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setAccessibleName(text);
}

QLabel *headingLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAccessibleName(text);
    makeAccessible(label, QAccessible::Heading);
    return label;
}

} // namespace tampod
