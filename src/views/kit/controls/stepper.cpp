#include "views/kit/controls/stepper.h"

#include "views/kit/controls/wheel_gate.h"

#include <QSignalBlocker>

namespace tampod {

Stepper::Stepper(QWidget *parent)
    : QSpinBox(parent)
{
    setKeyboardTracking(false);
    // Not focused by the wheel: a form scrolled past a stepper must not start stepping it.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSpinBox::valueChanged, this, &Stepper::valueChosen);
    WheelGate::install(this);
}

void Stepper::setStoredValue(int value)
{
    const QSignalBlocker blocker(this);
    setValue(value);
}

} // namespace tampod
