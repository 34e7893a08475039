#include "views/kit/controls/stepper.h"

#include <QSignalBlocker>

namespace tampod {

Stepper::Stepper(QWidget *parent)
    : QSpinBox(parent)
{
    setKeyboardTracking(false);
    connect(this, &QSpinBox::valueChanged, this, &Stepper::valueChosen);
}

void Stepper::setStoredValue(int value)
{
    const QSignalBlocker blocker(this);
    setValue(value);
}

} // namespace tampod
