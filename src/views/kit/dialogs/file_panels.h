#pragma once

#include "export/session/file_panels.h"

#include <QFileDialog>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

class QSettings;

namespace tampod {

// What every panel answers with: the chosen URLs, taken when the dialog is done and before it
// says it finished, whichever way it was accepted.
class FilePanel : public QFileDialog {
    Q_OBJECT

public:
    using QFileDialog::QFileDialog;

    // What the last accept chose, in the view's order; empty unless accepted.
    const QList<QUrl> &chosen() const { return chosen_; }

public Q_SLOTS:
    void done(int result) override;

protected:
    // Accepts with urls in place of the dialog's own selection.
    void acceptChoosing(const QList<QUrl> &urls);

private:
    std::optional<QList<QUrl>> choosing_;
    QList<QUrl> chosen_;
};

// The open panel for files, folders or both. Our own (non-native) dialog, so that with files
// and folders both allowed a selected folder is chosen with the accepting button instead of
// being entered.
class OpenPanel : public FilePanel {
    Q_OBJECT

public:
    // folder: where it starts; empty for the dialog's own choice.
    OpenPanel(QWidget *parent, const OpenPanelOptions &options, const QString &folder = {});

public Q_SLOTS:
    void accept() override;

private:
    OpenPanelOptions options_;
};

// The save panel for one new file of one type. It never asks to replace an existing file:
// the caller refuses those itself.
class SavePanel : public FilePanel {
    Q_OBJECT

public:
    SavePanel(QWidget *parent, const SavePanelOptions &options, const QString &folder = {});
};

// The panel for one existing file, with the message above the file list and its own prompt
// on the accepting button.
class RestorePanel : public FilePanel {
    Q_OBJECT

public:
    RestorePanel(QWidget *parent, const FilePanelText &text);
};

// The application's file panels, each window-modal on the active window (else on the
// fallback window) and shown with open(); the file manager reached over D-Bus. The save and
// folder panels start in the last folder chosen in any panel, kept in settings, else at home.
class DialogFilePanels : public FilePanels {
public:
    using ParentWindow = std::function<QWidget *()>;

    static constexpr const char *lastFolderKey = "filePanels.lastFolder";

    explicit DialogFilePanels(QSettings &settings, ParentWindow fallbackParent = {});

    void open(const OpenPanelOptions &options, Chosen completion) override;
    void save(const SavePanelOptions &options, Chosen completion) override;
    void chooseFolder(const OpenPanelOptions &options, Chosen completion) override;
    void restore(const FilePanelText &text, Chosen completion) override;
    void showItems(const QList<QUrl> &urls) override;
    void openFolder(const QUrl &folder) override;

    // Answers completion exactly once when panel finishes (none unless accepted) or goes with
    // its window unfinished; the finished panel deletes itself.
    static void answerOnce(FilePanel *panel, Chosen completion);

    // Where the save and folder panels start.
    QString startFolder() const;

private:
    QWidget *parentWindow() const;
    void present(FilePanel *panel, Chosen completion);

    QSettings &settings_;
    ParentWindow fallbackParent_;
};

} // namespace tampod
