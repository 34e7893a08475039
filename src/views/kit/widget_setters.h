#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace tampod {

// The refresh passes write every text on every turn; an unchanged text is left alone, so it
// costs no relayout, repaint or accessibility event.
inline void updateText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

inline void updateTitle(QAbstractButton *button, const QString &title)
{
    if (button->text() != title)
        button->setText(title);
}

// A push button that never becomes the default by taking the focus: a sheet names its one
// default button itself.
inline QPushButton *plainButton(const QString &title, QWidget *parent)
{
    auto *button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    return button;
}

// Fills the widget's whole area with one colour (a Theme colour) behind its children.
inline void fillBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace tampod
