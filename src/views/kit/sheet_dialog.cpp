#include "views/kit/sheet_dialog.h"

#include <QCloseEvent>

namespace tampod {

QPointer<SheetDialog> SheetDialog::current_;

SheetDialog::SheetDialog(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::Dialog)
{
    setWindowModality(Qt::WindowModal);
    setModal(true);
}

SheetDialog::~SheetDialog() = default;

SheetDialog *SheetDialog::current()
{
    return current_.data();
}

bool SheetDialog::present()
{
    if (current_ && current_ != this)
        return false;
    current_ = this;
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
    if (current_ == this)
        current_ = nullptr;
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
