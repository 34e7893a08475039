#pragma once

#include "views/kit/binding.h"

#include "library/audio_track.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace tampod {

class RefreshScheduler;

// The menu bar's commands: the "tamPOD" menu (About, Settings…, Quit), File (Open Audio…,
// Restore File Access…, Advanced SD2 Recovery…) and Help (the manual, also on the help key).
// The actions are made once; one refresh() sets their enablement from the selected track and
// the SD2 tools flag, scheduled by the model's signals and run again whenever a menu is about
// to show.
// thread: main only.
class TamPodCommands : public QObject {
    Q_OBJECT

public:
    struct Handlers {
        std::function<void(const QString &windowId)> openWindow;
        std::function<void()> openFiles;
        std::function<void()> restoreSelectedFileAccess;
        std::function<void()> quit;
        std::function<std::optional<AudioTrack>()> selectedTrack;
    };

    TamPodCommands(QMenuBar *menuBar, Handlers handlers, Binding<bool> showsAdvancedSD2, QObject *parent = nullptr);
    ~TamPodCommands() override;

    // Sets every action's enablement now.
    void refresh();
    // Schedules a refresh on each of the model's change signals.
    RefreshScheduler &scheduler() { return *scheduler_; }

    // The platform's Close command (Ctrl+W) for window, closing it as its close button does;
    // it answers while window is the active window.
    static QAction *addCloseCommand(QWidget *window);

    static bool canRestoreFileAccess(const std::optional<AudioTrack> &selected);
    static bool canShowAdvancedSD2(const std::optional<AudioTrack> &selected, bool showsAdvancedSD2);

    QMenu *applicationMenu() const { return applicationMenu_; }
    QMenu *fileMenu() const { return fileMenu_; }
    QMenu *helpMenu() const { return helpMenu_; }
    QAction *aboutAction() const { return about_; }
    QAction *settingsAction() const { return settings_; }
    QAction *quitAction() const { return quit_; }
    QAction *openAudioAction() const { return openAudio_; }
    QAction *restoreFileAccessAction() const { return restoreFileAccess_; }
    QAction *advancedSD2Action() const { return advancedSD2_; }
    QAction *manualAction() const { return manual_; }

private:
    QAction *add(QMenu *menu, const QString &title, std::function<void()> trigger);

    Handlers handlers_;
    Binding<bool> showsAdvancedSD2_;
    RefreshScheduler *scheduler_;
    QMenu *applicationMenu_;
    QMenu *fileMenu_;
    QMenu *helpMenu_;
    QAction *about_;
    QAction *settings_;
    QAction *quit_;
    QAction *openAudio_;
    QAction *restoreFileAccess_;
    QAction *advancedSD2_;
    QAction *manual_;
};

} // namespace tampod
