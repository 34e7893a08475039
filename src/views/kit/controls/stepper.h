#pragma once

#include <QSpinBox>

namespace tampod {

// A number field with arrows that reports only the user's own changes. A stored value outside
// the range is shown clamped but never written back. The wheel steps it only once the user has
// chosen it (WheelGate); otherwise it scrolls the form. thread: main only.
class Stepper : public QSpinBox {
    Q_OBJECT

public:
    explicit Stepper(QWidget *parent = nullptr);

    // Shows a stored value; emits nothing.
    void setStoredValue(int value);

Q_SIGNALS:
    // The user stepped or typed a new value.
    void valueChosen(int value);
};

} // namespace tampod
