#include "views/kit/dialogs/file_panels.h"

#include "core/file_handle.h"
#include "core/folder.h"
#include "core/native_path.h"
#include "platform/desktop/file_manager_reveal.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSettings>

#include <algorithm>
#include <memory>
#include <optional>
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

bool isFolder(const QString &path)
{
    const auto status = statusOf(path, LinkPolicy::Follow);
    return status && S_ISDIR(status->st_mode);
}

// A file URL carrying the path's own bytes, for programs outside that read it.
QUrl urlByBytes(const QString &path)
{
    return QUrl::fromEncoded(fileUrlBytes(path));
}

// The one entry of folder whose name the dialog reads as listed, or none.
std::optional<QString> entryReadAs(const QString &folder, const QString &listed)
{
    std::optional<QString> found;
    int matches = 0;
    try {
        Folder::open(folder).visitEntries(1000000, [&](const Folder::Entry &entry) {
            const QString name = decodedPath(QByteArray(entry.name));
            if (displayedPath(name) == listed) {
                found = name;
                ++matches;
            }
            return matches > 1;
        });
    } catch (const SystemError &) {
        return std::nullopt;
    }
    return matches == 1 ? found : std::nullopt;
}

// The path a path from the dialog stands for. The dialog decodes names as Qt does, each byte
// that is not UTF-8 becoming U+FFFD: each such name on the way is matched with its folder's
// listing by its bytes, and kept as it is when nothing, or more than one entry, reads that way.
QString byItsBytes(const QString &listed)
{
    if (!listed.startsWith(QLatin1Char('/')) || !listed.contains(QChar::ReplacementCharacter)
        || statusOf(listed, LinkPolicy::NoFollow))
        return listed;
    QString path;
    for (const QString &part : listed.sliced(1).split(QLatin1Char('/'))) {
        const QString here = path + QLatin1Char('/') + part;
        path += QLatin1Char('/');
        if (part.contains(QChar::ReplacementCharacter) && !statusOf(here, LinkPolicy::NoFollow))
            path += entryReadAs(path, part).value_or(part);
        else
            path += part;
    }
    return path;
}

} // namespace

void FilePanel::done(int result)
{
    // QFileDialog::accept() ends here too, and finished is emitted inside: take the choice first.
    chosen_.clear();
    if (result == QDialog::Accepted) {
        for (const QUrl &url : choosing_ ? *choosing_ : selectedUrls())
            chosen_.append(url.isLocalFile() ? QUrl::fromLocalFile(byItsBytes(url.toLocalFile())) : url);
    }
    choosing_.reset();
    QFileDialog::done(result);
}

void FilePanel::acceptChoosing(const QList<QUrl> &urls)
{
    choosing_ = urls;
    done(QDialog::Accepted);
}

OpenPanel::OpenPanel(QWidget *parent, const OpenPanelOptions &options, const QString &folder)
    : FilePanel(parent), options_(options)
{
    setOption(QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty())
        setDirectory(folder);
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
        return;
    }
    if (!options_.allowsMultipleSelection)
        selected = selected.mid(0, 1);
    acceptChoosing(selected);
}

SavePanel::SavePanel(QWidget *parent, const SavePanelOptions &options, const QString &folder) : FilePanel(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty())
        setDirectory(folder);
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

RestorePanel::RestorePanel(QWidget *parent, const FilePanelText &text) : FilePanel(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    applyText(*this, text);
}

DialogFilePanels::DialogFilePanels(QSettings &settings, ParentWindow fallbackParent)
    : settings_(settings), fallbackParent_(std::move(fallbackParent))
{
}

void DialogFilePanels::answerOnce(FilePanel *panel, Chosen completion)
{
    auto answered = std::make_shared<bool>(false);
    auto answer = [answered, completion = std::move(completion)](const QList<QUrl> &urls) {
        if (!std::exchange(*answered, true) && completion)
            completion(urls);
    };
    QObject::connect(panel, &QDialog::finished, panel, [panel, answer](int result) {
        const QList<QUrl> urls = result == QDialog::Accepted ? panel->chosen() : QList<QUrl>();
        panel->deleteLater();
        answer(urls);
    });
    QObject::connect(panel, &QObject::destroyed, [answer] { answer({}); });
}

QString DialogFilePanels::startFolder() const
{
    // Kept as the path's bytes; a text from before is taken as it is.
    const QVariant stored = settings_.value(QLatin1String(lastFolderKey));
    const QString folder = stored.typeId() == QMetaType::QByteArray ? decodedPath(stored.toByteArray())
                                                                      : stored.toString();
    if (!folder.isEmpty() && isFolder(folder))
        return folder;
    const QString home = decodedPath(qgetenv("HOME"));
    return home.startsWith(QLatin1Char('/')) ? home : QDir::homePath();
}

QWidget *DialogFilePanels::parentWindow() const
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return fallbackParent_ ? fallbackParent_() : nullptr;
}

void DialogFilePanels::present(FilePanel *panel, Chosen completion)
{
    // The settings outlive every answer with URLs: only a panel accepted while the application
    // runs gives one, never a panel that goes with its window at the end.
    QSettings *settings = &settings_;
    answerOnce(panel, [settings, completion = std::move(completion)](const QList<QUrl> &urls) {
        if (!urls.isEmpty() && urls.first().isLocalFile()) {
            const QString chosen = urls.first().toLocalFile();
            settings->setValue(QLatin1String(lastFolderKey),
                               encodedPath(isFolder(chosen) ? QDir::cleanPath(chosen) : QFileInfo(chosen).absolutePath()));
        }
        if (completion)
            completion(urls);
    });
    panel->open();
}

void DialogFilePanels::open(const OpenPanelOptions &options, Chosen completion)
{
    present(new OpenPanel(parentWindow(), options), std::move(completion));
}

void DialogFilePanels::save(const SavePanelOptions &options, Chosen completion)
{
    present(new SavePanel(parentWindow(), options, startFolder()), std::move(completion));
}

void DialogFilePanels::chooseFolder(const OpenPanelOptions &options, Chosen completion)
{
    OpenPanelOptions folders = options;
    folders.canChooseFiles = false;
    folders.canChooseFolders = true;
    present(new OpenPanel(parentWindow(), folders, startFolder()), std::move(completion));
}

void DialogFilePanels::restore(const FilePanelText &text, Chosen completion)
{
    present(new RestorePanel(parentWindow(), text), std::move(completion));
}

void DialogFilePanels::showItems(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    const QUrl folder = urlByBytes(QFileInfo(urls.first().toLocalFile()).absolutePath());
    FileManagerReveal::showItems(urls, [folder] { QDesktopServices::openUrl(folder); });
}

void DialogFilePanels::openFolder(const QUrl &folder)
{
    if (folder.isLocalFile())
        QDesktopServices::openUrl(urlByBytes(folder.toLocalFile()));
}

} // namespace tampod
