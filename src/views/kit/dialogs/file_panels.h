#pragma once

#include "export/session/file_panels.h"

#include <QFileDialog>
#include <QList>
#include <QUrl>

#include <functional>

namespace tampod {

// The open panel for files, folders or both. Our own (non-native) dialog, so that with files
// and folders both allowed a selected folder is chosen with the accepting button instead of
// being entered.
class OpenPanel : public QFileDialog {
    Q_OBJECT

public:
    OpenPanel(QWidget *parent, const OpenPanelOptions &options);

    // What the last accept chose, in the view's order.
    const QList<QUrl> &chosen() const { return chosen_; }

public Q_SLOTS:
    void accept() override;

private:
    OpenPanelOptions options_;
    QList<QUrl> chosen_;
};

// The save panel for one new file of one type. It never asks to replace an existing file:
// the caller refuses those itself.
class SavePanel : public QFileDialog {
    Q_OBJECT

public:
    SavePanel(QWidget *parent, const SavePanelOptions &options);
};

// The panel for one existing file, with the message above the file list and its own prompt
// on the accepting button.
class RestorePanel : public QFileDialog {
    Q_OBJECT

public:
    RestorePanel(QWidget *parent, const FilePanelText &text);
};

// The application's file panels, each window-modal on the active window (else on the
// fallback window) and shown with open(); the file manager reached over D-Bus.
class DialogFilePanels : public FilePanels {
public:
    using ParentWindow = std::function<QWidget *()>;

    explicit DialogFilePanels(ParentWindow fallbackParent = {});

    void open(const OpenPanelOptions &options, Chosen completion) override;
    void save(const SavePanelOptions &options, Chosen completion) override;
    void chooseFolder(const OpenPanelOptions &options, Chosen completion) override;
    void restore(const FilePanelText &text, Chosen completion) override;
    void showItems(const QList<QUrl> &urls) override;
    void openFolder(const QUrl &folder) override;

    // Answers completion exactly once when panel finishes (none unless accepted) or goes with
    // its window unfinished; the finished panel deletes itself.
    static void answerOnce(QFileDialog *panel, Chosen completion);

private:
    QWidget *parentWindow() const;
    void present(QFileDialog *panel, Chosen completion);

    ParentWindow fallbackParent_;
};

} // namespace tampod
