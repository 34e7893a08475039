#pragma once

#include <QObject>

class QWidget;

namespace tampod {

// Whether a picker or a stepper takes the wheel: only once the user has chosen it, by a click,
// by Tab, Backtab or a shortcut, or by opening its list, and while it keeps the focus. The
// focus a window hands out as it opens or comes back to the front is not the user's choice,
// so the wheel over a form that has just opened scrolls the form and changes nothing. An
// ignored wheel goes on to what encloses the control, the form's scroll area.
// thread: main only.
class WheelGate : public QObject {
    Q_OBJECT

public:
    // Gates control's wheel; the gate is a child of control and watches its children too (a
    // stepper's text field takes the clicks and the focus meant for the stepper).
    static WheelGate *install(QWidget *control);

    // The user opened the control's list.
    void engage() { engaged_ = true; }
    bool takesWheel() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit WheelGate(QWidget *control);

    QWidget *control_;
    bool engaged_ = false; // thread: main
};

} // namespace tampod
