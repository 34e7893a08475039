#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace tampod {

class SheetDialog;

// The sheets of one window: at most one is up at a time on each window, so a sheet of the main
// window and one of another window (the manual's) may be open together. Every sheet is shown
// through its window's host. thread: main.
class SheetHost : public QObject {
    Q_OBJECT

public:
    // The host of the window that holds widget, made on first use and living with that window.
    static SheetHost &of(QWidget *widget);

    QWidget *window() const { return window_; }
    // The sheet now up on this window, if any.
    SheetDialog *current() const;

    // Shows a sheet of this window and deletes it once it is dismissed. False, and the sheet
    // deleted at once, when there is none or another sheet is up.
    bool present(SheetDialog *sheet);

private:
    friend class SheetDialog;
    explicit SheetHost(QWidget *window);

    // The sheet's own show and end: one at a time.
    bool admit(SheetDialog *sheet);
    void release(SheetDialog *sheet);

    QWidget *const window_;
    QPointer<SheetDialog> current_;
};

} // namespace tampod
