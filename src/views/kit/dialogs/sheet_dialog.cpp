#include "views/kit/dialogs/sheet_dialog.h"

#include "views/kit/dialogs/sheet_host.h"

#include <QCloseEvent>

namespace tampod {

SheetDialog::SheetDialog(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::Dialog)
{
    setWindowModality(Qt::WindowModal);
    setModal(true);
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
    if (QWidget *window = parentWidget() ? parentWidget()->window() : nullptr) {
        const QRect frame = window->frameGeometry();
        move(frame.center() - rect().center());
    }
}

} // namespace tampod
