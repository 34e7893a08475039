#include "views/kit/controls/wheel_gate.h"

#include <QEvent>
#include <QFocusEvent>
#include <QWidget>

namespace tampod {

namespace {

bool isUsersChoice(Qt::FocusReason reason)
{
    return reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
           reason == Qt::ShortcutFocusReason;
}

// Focus the control gets back without the user choosing anything else: its window returning
// to the front, or its own list closing.
bool keepsChoice(Qt::FocusReason reason)
{
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

} // namespace

WheelGate::WheelGate(QWidget *control)
    : QObject(control)
    , control_(control)
{
}

WheelGate *WheelGate::install(QWidget *control)
{
    auto *gate = new WheelGate(control);
    control->installEventFilter(gate);
    for (QWidget *child : control->findChildren<QWidget *>())
        child->installEventFilter(gate);
    return gate;
}

bool WheelGate::takesWheel() const
{
    return engaged_ && control_->hasFocus();
}

bool WheelGate::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        // A dialog that shows itself sends its remembered focus widget a focus event of its
        // own, as if tabbed to, without giving it the focus: only real focus counts.
        if (isUsersChoice(static_cast<QFocusEvent *>(event)->reason()) && control_->hasFocus())
            engaged_ = true;
        break;
    case QEvent::FocusOut:
        if (!keepsChoice(static_cast<QFocusEvent *>(event)->reason()))
            engaged_ = false;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        engaged_ = true;
        break;
    case QEvent::Wheel:
        if (watched == control_ && !takesWheel()) {
            event->ignore();
            return true;
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace tampod
