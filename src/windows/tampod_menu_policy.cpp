#include "windows/tampod_menu_policy.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

namespace tampod {

TamPodMenuPolicy::TamPodMenuPolicy(MainMenu mainMenu, QObject *parent)
    : QObject(parent)
    , mainMenu_(std::move(mainMenu))
{
}

TamPodMenuPolicy::~TamPodMenuPolicy()
{
    uninstall();
}

void TamPodMenuPolicy::install()
{
    if (installed_)
        return;
    installed_ = true;
    // One filter sees menu changes, activation and the keys of every window.
    qApp->installEventFilter(this);
    if (QMenuBar *menu = mainMenu_ ? mainMenu_() : nullptr)
        prune(menu);
}

void TamPodMenuPolicy::uninstall()
{
    installed_ = false;
    if (qApp)
        qApp->removeEventFilter(this);
}

void TamPodMenuPolicy::scheduleUpdate()
{
    if (!installed_ || updateQueued_)
        return;
    updateQueued_ = true;
    QPointer<TamPodMenuPolicy> self(this);
    QMetaObject::invokeMethod(
        qApp,
        [self] {
            if (!self)
                return;
            self->updateQueued_ = false;
            if (!self->installed_)
                return;
            if (QMenuBar *menu = self->mainMenu_ ? self->mainMenu_() : nullptr)
                prune(menu);
        },
        Qt::QueuedConnection);
}

void TamPodMenuPolicy::prune(QMenuBar *mainMenu, QMenu *windowsMenu, QMenu *servicesMenu)
{
    static const QStringList removedMenus{QStringLiteral("Window"), QStringLiteral("View"), QStringLiteral("Edit")};
    for (QAction *item : mainMenu->actions()) {
        if (removedMenus.contains(item->text()) || (windowsMenu && item->menu() == windowsMenu))
            mainMenu->removeAction(item);
    }
    const QList<QAction *> menus = mainMenu->actions();
    if (menus.isEmpty())
        return;
    QMenu *applicationMenu = menus.first()->menu();
    if (!applicationMenu)
        return;
    for (QAction *item : applicationMenu->actions()) {
        if (item->text() == QStringLiteral("Services") || (servicesMenu && item->menu() == servicesMenu))
            applicationMenu->removeAction(item);
    }
    bool previousWasSeparator = true;
    for (QAction *item : applicationMenu->actions()) {
        if (item->isSeparator() && previousWasSeparator)
            applicationMenu->removeAction(item);
        else
            previousWasSeparator = item->isSeparator();
    }
    const QList<QAction *> left = applicationMenu->actions();
    if (!left.isEmpty() && left.last()->isSeparator())
        applicationMenu->removeAction(left.last());
}

std::optional<TamPodMenuPolicy::TextAction> TamPodMenuPolicy::textAction(const QString &key,
                                                                       Qt::KeyboardModifiers modifiers)
{
    // Ctrl stands where the design has Command, Meta where it has Control.
    const auto kept = modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool shift = kept == (Qt::ControlModifier | Qt::ShiftModifier);
    if (kept != Qt::ControlModifier && !shift)
        return std::nullopt;
    if (key.isEmpty())
        return std::nullopt;
    const QString lower = key.toLower();
    if (lower == QStringLiteral("z"))
        return shift ? TextAction::redo : TextAction::undo;
    if (shift)
        return std::nullopt;
    if (lower == QStringLiteral("x"))
        return TextAction::cut;
    if (lower == QStringLiteral("c"))
        return TextAction::copy;
    if (lower == QStringLiteral("v"))
        return TextAction::paste;
    if (lower == QStringLiteral("a"))
        return TextAction::selectAll;
    return std::nullopt;
}

namespace {

template <typename Editor>
void apply(Editor *editor, TamPodMenuPolicy::TextAction action, bool readOnly)
{
    using Action = TamPodMenuPolicy::TextAction;
    switch (action) {
    case Action::copy:
        editor->copy();
        return;
    case Action::selectAll:
        editor->selectAll();
        return;
    default:
        break;
    }
    if (readOnly)
        return;
    switch (action) {
    case Action::undo:
        editor->undo();
        break;
    case Action::redo:
        editor->redo();
        break;
    case Action::cut:
        editor->cut();
        break;
    case Action::paste:
        editor->paste();
        break;
    default:
        break;
    }
}

QLineEdit *lineEditOf(QWidget *widget)
{
    if (auto *line = qobject_cast<QLineEdit *>(widget))
        return line;
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->lineEdit();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(widget))
        return spin->findChild<QLineEdit *>();
    return nullptr;
}

// The letter of a key whatever the modifiers made of its text.
QString keyText(const QKeyEvent *event)
{
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(u'a' + (key - Qt::Key_A)));
    return {};
}

} // namespace

bool TamPodMenuPolicy::sendTextAction(QWidget *widget, TextAction action)
{
    if (QLineEdit *line = lineEditOf(widget)) {
        apply(line, action, line->isReadOnly());
        return true;
    }
    if (auto *text = qobject_cast<QTextEdit *>(widget)) {
        apply(text, action, text->isReadOnly());
        return true;
    }
    if (auto *plain = qobject_cast<QPlainTextEdit *>(widget)) {
        apply(plain, action, plain->isReadOnly());
        return true;
    }
    return false;
}

bool TamPodMenuPolicy::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionChanged:
        if (qobject_cast<QMenu *>(watched) || qobject_cast<QMenuBar *>(watched))
            scheduleUpdate();
        break;
    case QEvent::ApplicationActivate:
    case QEvent::WindowActivate:
        scheduleUpdate();
        break;
    case QEvent::KeyPress: {
        // Parents see a propagated key again; only the focus widget's own delivery counts.
        QWidget *focus = QApplication::focusWidget();
        if (watched != focus || !focus)
            break;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (const auto action = textAction(keyText(key), key->modifiers()); action && sendTextAction(focus, *action))
            return true;
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tampod
