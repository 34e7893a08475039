#include "views/kit/dialogs/file_panels.h"

#include "platform/desktop/file_manager_reveal.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace tampod {

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


void applyText(QFileDialog &panel, const FilePanelText &text)
{
    panel.setWindowTitle(text.title);
    if (!text.prompt.isEmpty())
        panel.setLabelText(QFileDialog::Accept, text.prompt);
    if (text.message.isEmpty())
        return;
    // The message may name a file: never markup.
    auto *label = new QLabel(text.message, &panel);
    label->setObjectName(QStringLiteral("message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    insertAbove(panel, label);
}

} // namespace

OpenPanel::OpenPanel(QWidget *parent, const OpenPanelOptions &options) : QFileDialog(parent), options_(options)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setOption(QFileDialog::ReadOnly, !options.canCreateFolders);
    if (!options.canChooseFiles) {
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly);
    } else {
        setFileMode(options.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    applyText(*this, options.text);
}

void OpenPanel::accept()
{
    if (!options_.canChooseFiles || !options_.canChooseFolders) {
        QFileDialog::accept();
        if (result() == QDialog::Accepted)
            chosen_ = selectedUrls();
        return;
    }
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
    if (!options_.allowsMultipleSelection)
        selected = selected.mid(0, 1);
    chosen_ = selected;
    done(QDialog::Accepted);
}

SavePanel::SavePanel(QWidget *parent, const SavePanelOptions &options) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setOption(QFileDialog::DontConfirmOverwrite);
    setOption(QFileDialog::ReadOnly, !options.canCreateFolders);
    if (!options.fileExtension.isEmpty()) {
        setNameFilter(QStringLiteral("*.") + options.fileExtension);
        setDefaultSuffix(options.fileExtension);
    }
    selectFile(options.proposedName);
    applyText(*this, options.text);
}

RestorePanel::RestorePanel(QWidget *parent, const FilePanelText &text) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    applyText(*this, text);
}

DialogFilePanels::DialogFilePanels(ParentWindow fallbackParent) : fallbackParent_(std::move(fallbackParent)) {}

void DialogFilePanels::answerOnce(QFileDialog *panel, Chosen completion)
{
    auto answered = std::make_shared<bool>(false);
    auto answer = [answered, completion = std::move(completion)](const QList<QUrl> &urls) {
        if (!std::exchange(*answered, true) && completion)
            completion(urls);
    };
    QObject::connect(panel, &QDialog::finished, panel, [panel, answer](int result) {
        QList<QUrl> urls;
        if (result == QDialog::Accepted) {
            const auto *open = qobject_cast<const OpenPanel *>(panel);
            urls = open ? open->chosen() : panel->selectedUrls();
        }
        panel->deleteLater();
        answer(urls);
    });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer({}); });
}

QWidget *DialogFilePanels::parentWindow() const
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return fallbackParent_ ? fallbackParent_() : nullptr;
}

void DialogFilePanels::present(QFileDialog *panel, Chosen completion)
{
    answerOnce(panel, std::move(completion));
    panel->open();
}

void DialogFilePanels::open(const OpenPanelOptions &options, Chosen completion)
{
    present(new OpenPanel(parentWindow(), options), std::move(completion));
}

void DialogFilePanels::save(const SavePanelOptions &options, Chosen completion)
{
    present(new SavePanel(parentWindow(), options), std::move(completion));
}

void DialogFilePanels::chooseFolder(const OpenPanelOptions &options, Chosen completion)
{
    OpenPanelOptions folders = options;
    folders.canChooseFiles = false;
    folders.canChooseFolders = true;
    present(new OpenPanel(parentWindow(), folders), std::move(completion));
}

void DialogFilePanels::restore(const FilePanelText &text, Chosen completion)
{
    present(new RestorePanel(parentWindow(), text), std::move(completion));
}

void DialogFilePanels::showItems(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(urls.first().toLocalFile()).absolutePath());
    FileManagerReveal::showItems(urls, [folder] { QDesktopServices::openUrl(folder); });
}

void DialogFilePanels::openFolder(const QUrl &folder)
{
    if (folder.isLocalFile())
        QDesktopServices::openUrl(folder);
}

} // namespace tampod
