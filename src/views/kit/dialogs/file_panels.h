#pragma once

#include "player/file_panels.h"

#include <QFileDialog>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

namespace tampod {

// The Open panel: several files and folders at once, as one choice. Our own (non-native)
// dialog, so that a selected folder is chosen with "Open" instead of being entered.
class OpenPanel : public QFileDialog {
    Q_OBJECT

public:
    OpenPanel(QWidget *parent, const QString &title);

    // Runs the panel modally; the chosen files and folders, none when cancelled.
    static QList<QUrl> choose(QWidget *parent, const QString &title);

    const QList<QUrl> &chosen() const { return chosen_; }

public Q_SLOTS:
    void accept() override;

private:
    QList<QUrl> chosen_;
};

// The panel for one existing file, with a message above the file list and its own prompt on
// the accepting button. Modal on its window when it has one, else on the application.
class RestorePanel : public QFileDialog {
    Q_OBJECT

public:
    RestorePanel(QWidget *parent, const QString &title, const QString &message, const QString &prompt);

    // Runs the panel modally; the chosen file, none when cancelled.
    static std::optional<QUrl> choose(QWidget *parent, const QString &title, const QString &message,
                                      const QString &prompt);
};

// The application's file panels. The Open panel sits on the window given at construction;
// the restore panel on whichever window is active.
class DialogFilePanels : public FilePanels {
public:
    using ParentWindow = std::function<QWidget *()>;

    explicit DialogFilePanels(ParentWindow openParent = {});

    QList<QUrl> open(const QString &title) override;
    std::optional<QUrl> restore(const QString &title, const QString &message, const QString &prompt) override;

private:
    ParentWindow openParent_;
};

} // namespace tampod
