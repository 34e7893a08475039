#include "views/kit/theme.h"

#include <QApplication>
#include <QStyleFactory>

namespace tampod::Theme {

QPalette darkPalette()
{
    const QColor window = background;
    const QColor base = QColor::fromRgbF(0.16f, 0.16f, 0.16f);
    const QColor text = QColor::fromRgbF(0.9f, 0.9f, 0.9f);
    const QColor button = QColor::fromRgbF(0.26f, 0.26f, 0.26f);
    const QColor disabled = QColor::fromRgbF(0.5f, 0.5f, 0.5f);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabled);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor::fromRgbF(0.35f, 0.35f, 0.35f));
    palette.setColor(QPalette::Midlight, QColor::fromRgbF(0.3f, 0.3f, 0.3f));
    palette.setColor(QPalette::Mid, border);
    palette.setColor(QPalette::Dark, QColor::fromRgbF(0.08f, 0.08f, 0.08f));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor::fromRgbF(0.2f, 0.42f, 0.8f));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    return palette;
}

void applyDarkAppearance(QApplication &application)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        application.setStyle(fusion);
    application.setPalette(darkPalette());
}

} // namespace tampod::Theme
