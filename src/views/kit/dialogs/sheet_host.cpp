#include "views/kit/dialogs/sheet_host.h"

#include "views/kit/dialogs/sheet_dialog.h"

#include <QWidget>

namespace tampod {

SheetHost::SheetHost(QWidget *window)
    : QObject(window)
    , window_(window)
{
}

SheetHost &SheetHost::of(QWidget *widget)
{
    Q_ASSERT(widget);
    QWidget *window = widget->window();
    if (auto *host = window->findChild<SheetHost *>(QString(), Qt::FindDirectChildrenOnly))
        return *host;
    return *new SheetHost(window);
}

SheetDialog *SheetHost::current() const
{
    return current_.data();
}

bool SheetHost::present(SheetDialog *sheet)
{
    if (!sheet)
        return false;
    // The sheet and what it shows go away once it is dismissed.
    connect(sheet, &SheetDialog::dismissed, sheet, &QObject::deleteLater);
    if (!sheet->present()) {
        delete sheet;
        return false;
    }
    return true;
}

bool SheetHost::admit(SheetDialog *sheet)
{
    if (current_ && current_ != sheet)
        return false;
    current_ = sheet;
    return true;
}

void SheetHost::release(SheetDialog *sheet)
{
    if (current_ == sheet)
        current_ = nullptr;
}

} // namespace tampod
