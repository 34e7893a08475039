#include "views/kit/controls/stepper.h"

#include <QSignalBlocker>
#include <QWheelEvent>

namespace tampod {

Stepper::Stepper(QWidget *parent)
    : QSpinBox(parent)
{
    setKeyboardTracking(false);
    // Not focused by the wheel: a form scrolled past a stepper must not start stepping it.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSpinBox::valueChanged, this, &Stepper::valueChosen);
}

void Stepper::setStoredValue(int value)
{
    const QSignalBlocker blocker(this);
    setValue(value);
}

void Stepper::wheelEvent(QWheelEvent *event)
{
    // Unfocused, the wheel goes on to what encloses the stepper, the form's scroll area.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QSpinBox::wheelEvent(event);
}

} // namespace tampod
