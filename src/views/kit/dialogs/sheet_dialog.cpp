#include "views/kit/dialogs/sheet_dialog.h"

#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/view_accessibility.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace tampod {

SheetDialog::SheetDialog(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::Dialog)
{
    setWindowModality(Qt::WindowModal);
    setModal(true);
    // A click on the sheet's blank space takes the focus, as a form's scroll area does, so a
    // picker the user left no longer holds the wheel.
    setFocusPolicy(Qt::ClickFocus);
    makeButtonsPressAtOnce(this);
}

SheetDialog::~SheetDialog() = default;

bool SheetDialog::present()
{
    Q_ASSERT(parentWidget());
    SheetHost &host = SheetHost::of(parentWidget());
    if (!host.admit(this))
        return false;
    host_ = &host;
    closed_ = false;
    open();
    return true;
}

bool SheetDialog::dismiss()
{
    if (closed_)
        return true;
    if (refusesClose_ && refusesClose_())
        return false;
    closed_ = true;
    if (onClose_)
        onClose_();
    if (host_)
        host_->release(this);
    QDialog::done(QDialog::Rejected);
    Q_EMIT dismissed();
    return true;
}

void SheetDialog::reject()
{
    dismiss();
}

void SheetDialog::closeEvent(QCloseEvent *event)
{
    if (closed_ || dismiss())
        event->accept();
    else
        event->ignore();
}

void SheetDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreOnWindow();
}

void SheetDialog::centreOnWindow()
{
    QWidget *window = parentWidget() ? parentWidget()->window() : nullptr;
    if (!window)
        return;
    const QRect windowFrame = window->frameGeometry();
    // Until the window manager has framed the sheet, its window's frame stands in for its own.
    const QWidget *framed = frameGeometry() != geometry() ? static_cast<const QWidget *>(this) : window;
    const QRect inner = framed->geometry(), outer = framed->frameGeometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                           outer.bottom() - inner.bottom());
    QRect frame(QPoint(), size().grownBy(margins));
    frame.moveCenter(windowFrame.center());
    // Wholly on the screen where it fits; its title bar on it where it does not.
    const QScreen *screen = QGuiApplication::screenAt(windowFrame.center());
    if (!screen)
        screen = window->screen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
        frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
    }
    move(frame.topLeft());
}

} // namespace tampod
