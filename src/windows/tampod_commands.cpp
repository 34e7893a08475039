#include "windows/tampod_commands.h"

#include "windows/window_texts.h"

#include "views/kit/refresh_scheduler.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace tampod {

TamPodCommands::TamPodCommands(QMenuBar *menuBar, Handlers handlers, Binding<bool> showsAdvancedSD2, QObject *parent)
    : QObject(parent)
    , handlers_(std::move(handlers))
    , showsAdvancedSD2_(std::move(showsAdvancedSD2))
    , scheduler_(new RefreshScheduler([this] { refresh(); }, this))
    , applicationMenu_(menuBar->addMenu(WindowText::applicationMenu))
    , fileMenu_(menuBar->addMenu(WindowText::fileMenu))
    , helpMenu_(menuBar->addMenu(WindowText::helpMenu))
{
    about_ = add(applicationMenu_, WindowText::about, [this] { handlers_.openWindow(WindowId::about); });
    applicationMenu_->addSeparator();
    settings_ = add(applicationMenu_, WindowText::settings, [this] { handlers_.openWindow(WindowId::settings); });
    settings_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    applicationMenu_->addSeparator();
    quit_ = add(applicationMenu_, WindowText::quit, [this] { handlers_.quit(); });
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    openAudio_ = add(fileMenu_, WindowText::openAudio, [this] { handlers_.openFiles(); });
    openAudio_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    restoreFileAccess_ = add(fileMenu_, WindowText::restoreFileAccess,
                             [this] { handlers_.restoreSelectedFileAccess(); });
    advancedSD2_ = add(fileMenu_, WindowText::advancedSD2, [this] { showsAdvancedSD2_.set(true); });

    manual_ = add(helpMenu_, WindowText::manual, [this] { handlers_.openWindow(WindowId::manual); });
    manual_->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Question), QKeySequence(Qt::Key_F1)});

    // Menu commands answer from every window, as a global menu would; a modal alert still
    // blocks them.
    for (QAction *action : {about_, settings_, quit_, openAudio_, restoreFileAccess_, advancedSD2_, manual_})
        action->setShortcutContext(Qt::ApplicationShortcut);

    for (QMenu *menu : {applicationMenu_, fileMenu_, helpMenu_})
        connect(menu, &QMenu::aboutToShow, this, [this] { refresh(); });
    showsAdvancedSD2_.onChange(this, [this] { scheduler_->schedule(); });
    refresh();
}

TamPodCommands::~TamPodCommands() = default;

QAction *TamPodCommands::add(QMenu *menu, const QString &title, std::function<void()> trigger)
{
    QAction *action = menu->addAction(title);
    action->setMenuRole(QAction::NoRole);
    connect(action, &QAction::triggered, this, [trigger = std::move(trigger)] { trigger(); });
    return action;
}

QAction *TamPodCommands::addCloseCommand(QWidget *window)
{
    auto *close = new QAction(window);
    close->setShortcuts(QKeySequence::Close);
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, window, &QWidget::close);
    window->addAction(close);
    return close;
}

bool TamPodCommands::canRestoreFileAccess(const std::optional<AudioTrack> &selected)
{
    return selected && !selected->pair;
}

bool TamPodCommands::canShowAdvancedSD2(const std::optional<AudioTrack> &selected, bool showsAdvancedSD2)
{
    // SD2-related: SD2 metadata, a working copy, a recovery or a pair, else an "sd2" extension
    // (any case) on the file as loaded.
    return selected && selected->isSD2() && !showsAdvancedSD2;
}

void TamPodCommands::refresh()
{
    const std::optional<AudioTrack> selected = handlers_.selectedTrack ? handlers_.selectedTrack() : std::nullopt;
    restoreFileAccess_->setEnabled(canRestoreFileAccess(selected));
    advancedSD2_->setEnabled(canShowAdvancedSD2(selected, showsAdvancedSD2_.get()));
}

} // namespace tampod
