#pragma once

#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;

namespace tampod {

class MainWindowModel;

// The main window's keys, as one application event filter. Keys go on unchanged unless the
// main window is the active window with no sheet or modal dialog up; a focused text field
// keeps all its keys. Then: Ctrl+Z and Shift+Ctrl+Z step the loop section's history (not
// while a mouse button is down); Ctrl+A selects all rows of a focused table; Space plays or
// pauses and Backspace or Delete removes the selected rows, without modifiers and only while
// the focus is on the window, its content or a table. Held keys act once. thread: main.
class MainWindowKeyboardHandler : public QObject {
    Q_OBJECT

public:
    // window's central widget is its content.
    MainWindowKeyboardHandler(MainWindowModel &player, QWidget *window, QObject *parent = nullptr);
    ~MainWindowKeyboardHandler() override;

    // Whether the key event sent to receiver is taken (and acted on) rather than passed on.
    bool handle(QWidget *receiver, const QKeyEvent &event);

    static bool isTextField(const QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleUndo(const QKeyEvent &event, Qt::KeyboardModifiers modifiers);
    bool handlePlayback(const QKeyEvent &event, Qt::KeyboardModifiers modifiers, QWidget *focus);

    QPointer<MainWindowModel> player_;
    QPointer<QWidget> window_;
};

} // namespace tampod
