#include "windows/main_window_keyboard_handler.h"

#include "views/kit/dialogs/sheet_host.h"
#include "views/main/main_window_model.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace tampod {

namespace {

constexpr Qt::KeyboardModifiers held =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

QWidget *contentOf(QWidget *window)
{
    if (auto *main = qobject_cast<QMainWindow *>(window))
        return main->centralWidget();
    return nullptr;
}

} // namespace

MainWindowKeyboardHandler::MainWindowKeyboardHandler(MainWindowModel &player, QWidget *window, QObject *parent)
    : QObject(parent)
    , player_(&player)
    , window_(window)
{
    qApp->installEventFilter(this);
}

MainWindowKeyboardHandler::~MainWindowKeyboardHandler()
{
    qApp->removeEventFilter(this);
}

bool MainWindowKeyboardHandler::isTextField(const QWidget *widget)
{
    if (auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->isEditable();
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget)
           || qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget);
}

bool MainWindowKeyboardHandler::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType())
        return handle(static_cast<QWidget *>(watched), *static_cast<QKeyEvent *>(event));
    return false;
}

bool MainWindowKeyboardHandler::handle(QWidget *receiver, const QKeyEvent &event)
{
    if (!window_ || !player_ || !receiver)
        return false;
    QWidget *focus = QApplication::focusWidget();
    // A key passed up to the parents comes here again: only its first delivery counts.
    if (receiver != (focus ? focus : QApplication::activeWindow()))
        return false;
    if (receiver->window() != window_ || QApplication::activeWindow() != window_
        || SheetHost::of(window_).current()
        || QApplication::activeModalWidget())
        return false;

    const Qt::KeyboardModifiers modifiers = event.modifiers() & held;
    if (isTextField(focus))
        return false;
    if (event.key() == Qt::Key_Z && handleUndo(event, modifiers))
        return true;
    if (event.key() == Qt::Key_A && modifiers == Qt::ControlModifier) {
        if (auto *table = qobject_cast<QAbstractItemView *>(focus)) {
            table->selectAll();
            return true;
        }
    }
    return handlePlayback(event, modifiers, focus);
}

bool MainWindowKeyboardHandler::handleUndo(const QKeyEvent &event, Qt::KeyboardModifiers modifiers)
{
    const bool redo = modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    if (!redo && modifiers != Qt::ControlModifier)
        return false;
    // Mid-drag the key goes on: a boundary may be moving.
    if (QGuiApplication::mouseButtons() != Qt::NoButton)
        return false;
    if (event.isAutoRepeat())
        return true;
    if (redo)
        player_->redoSectionRange();
    else
        player_->undoSectionRange();
    return true;
}

bool MainWindowKeyboardHandler::handlePlayback(const QKeyEvent &event, Qt::KeyboardModifiers modifiers,
                                               QWidget *focus)
{
    if (modifiers != Qt::NoModifier)
        return false;
    // A focused control (a button, a slider) keeps its keys.
    if (focus && focus != window_ && focus != contentOf(window_) && !qobject_cast<QAbstractItemView *>(focus))
        return false;
    const bool space = event.key() == Qt::Key_Space;
    const bool remove = event.key() == Qt::Key_Backspace || event.key() == Qt::Key_Delete;
    if (!space && !remove)
        return false;
    if (event.isAutoRepeat())
        return true;
    if (remove)
        player_->removeSelected();
    else if (player_->isPlaying())
        player_->pause();
    else
        player_->play();
    return true;
}

} // namespace tampod
