#include "views/kit/sheet_host.h"

#include "views/kit/sheet_dialog.h"

#include <QWidget>

namespace tampod {

SheetHost::SheetHost(QWidget *window)
    : QObject(window)
    , window_(window)
{
}

SheetDialog *SheetHost::emptySheet(QWidget *window, const QString &title)
{
    auto *sheet = new SheetDialog(window);
    sheet->setWindowTitle(title);
    sheet->resize(520, 360);
    return sheet;
}

bool SheetHost::presentExport()
{
    return present(exportFactory_, export_);
}

bool SheetHost::presentBatch()
{
    return present(batchFactory_, batch_);
}

bool SheetHost::present(const Factory &factory, QPointer<SheetDialog> &slot)
{
    SheetDialog *sheet = factory ? factory(window_) : nullptr;
    if (!sheet)
        return false;
    // The sheet and what it shows go away once it is dismissed.
    connect(sheet, &SheetDialog::dismissed, sheet, &QObject::deleteLater);
    if (!sheet->present()) {
        delete sheet;
        return false;
    }
    slot = sheet;
    return true;
}

} // namespace tampod
