#include "views/kit/dialogs/sheet_dialog.h"

#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/frame_placement.h"
#include "views/kit/screen_fit.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

namespace tampod {

SheetDialog::SheetDialog(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::Dialog)
    , placement_(new FramePlacement(this, [this] { fitAndCentre(); }))
{
    setWindowModality(Qt::WindowModal);
    setModal(true);
    // A click on the sheet's blank space takes the focus, as a form's scroll area does, so a
    // picker the user left no longer holds the wheel.
    setFocusPolicy(Qt::ClickFocus);
    makeButtonsPressAtOnce(this);
    connect(placement_, &FramePlacement::screenChanged, this, [this] {
        // Moved there by the user: fitted to that screen and kept on it.
        if (!placement_->isFollowing() && isVisible())
            placement_->place([this] { fitOn(ScreenFit::screenOf(this), ScreenFit::frameGeometry(this).center()); });
    });
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
    // Fitted and centred again whenever the window manager frames it anew, until the user
    // moves it.
    placement_->follow();
    placement_->place([this] { fitAndCentre(); });
}

void SheetDialog::fitAndCentre()
{
    QWidget *window = parentWidget() ? parentWidget()->window() : nullptr;
    if (!window)
        return;
    const QRect windowFrame = ScreenFit::frameGeometry(window);
    const QScreen *screen = QGuiApplication::screenAt(windowFrame.center());
    fitOn(screen ? screen : window->screen(), windowFrame.center());
}

void SheetDialog::fitOn(const QScreen *screen, QPoint centre)
{
    QWidget *window = parentWidget() ? parentWidget()->window() : nullptr;
    // Until the window manager has framed the sheet, its window's frame stands in for its own.
    const QMargins margins = ScreenFit::frameMargins(this, window);
    // No taller than the screen has room for: the form scrolls and the buttons stay in sight.
    ScreenFit::fit(this, margins, screen);
    QRect frame(QPoint(), size().grownBy(margins));
    frame.moveCenter(centre);
    // Wholly on the screen where it fits; its title bar on it where it does not.
    if (screen)
        frame = ScreenFit::placed(frame, screen->availableGeometry());
    ScreenFit::moveFrame(this, frame.topLeft(), margins);
}

} // namespace tampod
