#include "windows/secondary_windows.h"

#include "windows/window_position_reader.h"
#include "windows/window_texts.h"

#include "views/about/about_view.h"
#include "views/about/app_identity.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/manual/user_manual_view.h"
#include "views/settings/export_settings_view.h"

#include <QPointer>

#include <QVBoxLayout>
#include <QWidget>

namespace tampod {

namespace {

QWidget *darkWindow(const QString &title)
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(title);
    window->setAutoFillBackground(true);
    window->setPalette(Theme::darkPalette());
    makeAccessibleContainer(window, QAccessible::Window);
    return window;
}

} // namespace

void rememberPlacement(QWidget *window, const QString &id, QSettings &positions, const QWidget *mainWindow,
                       std::function<void()> onClose)
{
    WindowPositionReader::attach(window, id, positions, std::move(onClose))->centreOn(mainWindow);
}

QWidget *makeAboutWindow()
{
    QWidget *window = darkWindow(WindowText::aboutTitle);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new AboutView(window));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return window;
}

QWidget *makeSettingsWindow(ExportPreferences &preferences, PlayerModel &player, AlertPresenting &alerts,
                            QSettings &positions, const QWidget *mainWindow)
{
    QWidget *window = darkWindow(WindowText::settingsTitle);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    QPointer<ExportSettingsView> view = new ExportSettingsView(preferences, player, alerts, window);
    layout->addWidget(view);
    // A fixed size, which a short screen's height may cut down: the form scrolls then.
    window->setFixedSize(ExportSettingsView::contentSize);
    rememberPlacement(window, WindowId::settings, positions, mainWindow, [view] {
        if (view)
            view->windowClosed();
    });
    return window;
}

QWidget *makeManualWindow(const QString &figureFolder)
{
    QWidget *window = darkWindow(WindowText::manualTitle);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new UserManualView(AppIdentity::appIcon(),
                                         figureFolder.isEmpty() ? figureResourceFolder : figureFolder, window));
    window->resize(800, 560);
    return window;
}

} // namespace tampod
