#include "views/kit/dialogs/sheet_dialog.h"

#include "views/kit/dialogs/sheet_host.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace tampod {

namespace {

// A sheet's push button for the accessibility bus. Its press acts at once, as a click does:
// the platform's own press flashes the button for a tenth of a second first, and while a
// dismissing button flashes the sheet still blocks its window, whose close requests the
// window system then drops.
class SheetButtonAccessible final : public QAccessibleWidget {
public:
    explicit SheetButtonAccessible(QPushButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        // The title without its mnemonic marks ("&&" stands for "&").
        const QString title = button()->text();
        QString name;
        for (qsizetype i = 0; i < title.size(); ++i) {
            if (title[i] == QLatin1Char('&') && ++i >= title.size())
                break;
            name += title[i];
        }
        return name;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = button()->isDown();
        state.defaultButton = button()->isDefault();
        state.checkable = button()->isCheckable();
        state.checked = button()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &name) override
    {
        if (name == pressAction()) {
            if (button()->isEnabled())
                button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QPushButton *button() const { return static_cast<QPushButton *>(widget()); }
};

QAccessibleInterface *sheetButtonFactory(const QString &className, QObject *object)
{
    auto *button = qobject_cast<QPushButton *>(object);
    if (className != QLatin1String("QPushButton") || !button || button->menu()
        || !qobject_cast<SheetDialog *>(button->window()))
        return nullptr;
    return new SheetButtonAccessible(button);
}

} // namespace

SheetDialog::SheetDialog(QWidget *window)
    : QDialog(window, Qt::Sheet | Qt::Dialog)
{
    setWindowModality(Qt::WindowModal);
    setModal(true);
    static const bool accessible = [] {
        QAccessible::installFactory(sheetButtonFactory);
        return true;
    }();
    Q_UNUSED(accessible);
}

SheetDialog::~SheetDialog() = default;

bool SheetDialog::present()
{
    Q_ASSERT(parentWidget());
    SheetHost &host = SheetHost::of(parentWidget());
    if (!host.admit(this))
        return false;
    host_ = &host;
    closed_ = false;
    open();
    return true;
}

bool SheetDialog::dismiss()
{
    if (closed_)
        return true;
    if (refusesClose_ && refusesClose_())
        return false;
    closed_ = true;
    if (onClose_)
        onClose_();
    if (host_)
        host_->release(this);
    QDialog::done(QDialog::Rejected);
    Q_EMIT dismissed();
    return true;
}

void SheetDialog::reject()
{
    dismiss();
}

void SheetDialog::closeEvent(QCloseEvent *event)
{
    if (closed_ || dismiss())
        event->accept();
    else
        event->ignore();
}

void SheetDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreOnWindow();
}

void SheetDialog::centreOnWindow()
{
    QWidget *window = parentWidget() ? parentWidget()->window() : nullptr;
    if (!window)
        return;
    const QRect windowFrame = window->frameGeometry();
    // Until the window manager has framed the sheet, its window's frame stands in for its own.
    const QWidget *framed = frameGeometry() != geometry() ? static_cast<const QWidget *>(this) : window;
    const QRect inner = framed->geometry(), outer = framed->frameGeometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                           outer.bottom() - inner.bottom());
    QRect frame(QPoint(), size().grownBy(margins));
    frame.moveCenter(windowFrame.center());
    // Wholly on the screen where it fits; its title bar on it where it does not.
    const QScreen *screen = QGuiApplication::screenAt(windowFrame.center());
    if (!screen)
        screen = window->screen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
        frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
    }
    move(frame.topLeft());
}

} // namespace tampod
