#include "views/kit/dialogs/file_panels.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <tuple>
#include <vector>

namespace tampod {

OpenPanel::OpenPanel(QWidget *parent, const QString &title)
    : QFileDialog(parent, title)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowModality(Qt::ApplicationModal);
}

QList<QUrl> OpenPanel::choose(QWidget *parent, const QString &title)
{
    OpenPanel panel(parent, title);
    if (panel.exec() != QDialog::Accepted)
        return {};
    return panel.chosen();
}

void OpenPanel::accept()
{
    // What is selected in the visible view, folders included, in the view's order.
    QList<QUrl> selected;
    for (const QAbstractItemView *view : findChildren<QAbstractItemView *>()) {
        if (!view->isVisible() || !view->selectionModel()
            || (view->objectName() != QStringLiteral("listView") && view->objectName() != QStringLiteral("treeView")))
            continue;
        QModelIndexList rows = view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
        for (const QModelIndex &row : rows) {
            if (const auto *files = qobject_cast<const QFileSystemModel *>(row.model()))
                selected.append(QUrl::fromLocalFile(files->filePath(row)));
        }
    }
    if (selected.isEmpty()) {
        // A typed name: the dialog's own rules (an existing file, or entering a folder).
        QFileDialog::accept();
        if (result() == QDialog::Accepted)
            chosen_ = selectedUrls();
        return;
    }
    chosen_ = selected;
    done(QDialog::Accepted);
}

namespace {

// The dialog's grid has no room above the "Look in" row: every item moves down one row.
void insertAbove(QFileDialog &dialog, QWidget *widget)
{
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    if (!grid) {
        if (dialog.layout())
            dialog.layout()->addWidget(widget);
        return;
    }
    std::vector<std::tuple<QLayoutItem *, int, int, int, int>> items;
    while (grid->count() > 0) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(0, &row, &column, &rows, &columns);
        items.emplace_back(grid->takeAt(0), row, column, rows, columns);
    }
    const int width = std::max(grid->columnCount(), 1);
    grid->addWidget(widget, 0, 0, 1, width);
    for (const auto &[item, row, column, rows, columns] : items)
        grid->addItem(item, row + 1, column, rows, columns);
}

} // namespace

RestorePanel::RestorePanel(QWidget *parent, const QString &title, const QString &message, const QString &prompt)
    : QFileDialog(parent, title)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, prompt);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // The message names a file: never markup.
    auto *label = new QLabel(message, this);
    label->setObjectName(QStringLiteral("message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    insertAbove(*this, label);
}

std::optional<QUrl> RestorePanel::choose(QWidget *parent, const QString &title, const QString &message,
                                         const QString &prompt)
{
    // On the heap: closing its window during the modal loop deletes the panel with it.
    QPointer<RestorePanel> panel = new RestorePanel(parent, title, message, prompt);
    const int result = panel->exec();
    if (!panel)
        return std::nullopt;
    const QList<QUrl> chosen = panel->selectedUrls();
    delete panel;
    if (result != QDialog::Accepted || chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

DialogFilePanels::DialogFilePanels(ParentWindow openParent) : openParent_(std::move(openParent)) {}

QList<QUrl> DialogFilePanels::open(const QString &title)
{
    return OpenPanel::choose(openParent_ ? openParent_() : nullptr, title);
}

std::optional<QUrl> DialogFilePanels::restore(const QString &title, const QString &message, const QString &prompt)
{
    return RestorePanel::choose(QApplication::activeWindow(), title, message, prompt);
}

} // namespace tampod
