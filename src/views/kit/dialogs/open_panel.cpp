#include "views/kit/dialogs/open_panel.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>

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

} // namespace tampod
