#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QMenu;
class QMenuBar;
class QWidget;

namespace tampod {

// Keeps the main menu trimmed to what tamPOD offers (no "Window", "View" or "Edit" menu, no
// "Services" item, no stray separators), again whenever menus change or a window becomes
// active, and gives the standard editing shortcuts to a focused text field before anything
// else sees them. Installed once launching has finished; uninstalled at termination.
// thread: main only.
class TamPodMenuPolicy : public QObject {
    Q_OBJECT

public:
    enum class TextAction { undo, redo, cut, copy, paste, selectAll };
    using MainMenu = std::function<QMenuBar *()>;

    explicit TamPodMenuPolicy(MainMenu mainMenu, QObject *parent = nullptr);
    ~TamPodMenuPolicy() override;

    void install();
    void uninstall();
    bool isInstalled() const { return installed_; }
    // Queues one prune; any number of calls before it runs cause one.
    void scheduleUpdate();
    bool isUpdateQueued() const { return updateQueued_; }

    static void prune(QMenuBar *mainMenu, QMenu *windowsMenu = nullptr, QMenu *servicesMenu = nullptr);
    // The editing action of a key (its text, modifiers ignored) with Ctrl or Ctrl+Shift.
    static std::optional<TextAction> textAction(const QString &key, Qt::KeyboardModifiers modifiers);
    // Sends action to widget when it is a text field; false when it is none.
    static bool sendTextAction(QWidget *widget, TextAction action);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainMenu mainMenu_;
    bool updateQueued_ = false; // thread: main
    bool installed_ = false;    // thread: main
};

} // namespace tampod
