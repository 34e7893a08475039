#pragma once

// The user's side of the real file panels: the open panel found among the top-level widgets, a
// path typed into its name field and its accepting button pressed. Widgets tests only.
#include "support/test_support.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace tampod::test {

// The top-level window of type T on screen now, else null.
template <typename T>
T *shownWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// Waits for a window of type T to appear; null when none did.
template <typename T>
T *awaitWindow()
{
    T *window = nullptr;
    pumpUntil([&] { return (window = shownWindow<T>()) != nullptr; });
    return window;
}

inline QFileDialog *shownPanel() { return shownWindow<QFileDialog>(); }
inline QFileDialog *awaitPanel() { return awaitWindow<QFileDialog>(); }

inline QPushButton *acceptButton(QFileDialog &panel)
{
    auto *box = panel.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!box)
        return nullptr;
    for (QAbstractButton *button : box->buttons()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
            return qobject_cast<QPushButton *>(button);
    }
    return nullptr;
}

// Types path over the name field's text, then presses the accepting button. False when the
// panel has no such field or button, or the button stayed disabled.
inline bool answerPanel(QFileDialog &panel, const QString &path)
{
    auto *name = panel.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QPushButton *accept = acceptButton(panel);
    if (!name || !accept)
        return false;
    // Typed with the field focused, as the dialog expects of a user: without focus it rewrites
    // the field from what its list selects.
    QApplication::setActiveWindow(&panel);
    name->setFocus();
    if (!pumpUntil([&] { return name->hasFocus(); }))
        return false;
    name->selectAll();
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, path);
    QApplication::sendEvent(name, &typed);
    if (name->text() != path || !accept->isEnabled())
        return false;
    accept->click();
    return true;
}

// The panel now shown, answered with path.
inline bool answerNextPanel(const QString &path)
{
    QFileDialog *panel = awaitPanel();
    return panel && answerPanel(*panel, path);
}

} // namespace tampod::test
