#include "views/kit/accessibility/view_accessibility.h"

#include "views/kit/accessibility/accessible_bus_guard.h"
#include "views/kit/accessibility/accessible_table_source.h"
#include "views/kit/accessibility/accessible_value_source.h"
#include "views/kit/accessibility/bounded_accessible_text.h"
#include "views/kit/accessibility/line_edit_accessible.h"
#include "views/kit/accessibility/scroll_area_accessible.h"
#include "views/kit/accessibility/spin_box_accessible.h"
#include "views/kit/accessibility/text_view_accessible.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QAccessibleWidget>
#include <QPushButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QTableView>
#include <QTextDocument>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace tampod {

namespace {

const char *const roleProperty = "tampodAccessibleRole";
const char *const containerRoleProperty = "tampodAccessibleContainerRole";
const char *const pressAtOnceProperty = "tampodButtonsPressAtOnce";
const char *const valueProperty = "tampodAccessibleValue";

// A value text offered as the element's read-only text, without a cursor or selections: how a
// screen reader on the accessibility bus reaches a value that has no range, and how it hears
// that value change (the bus carries value changes only for values with a range).
class ReadOnlyText : public BoundedAccessibleText {
public:
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}

protected:
    QString content() const override { return shownText(); }
    virtual QString shownText() const = 0;
};

// A drawn element with a role and a value text, which is also its text.
class ValueAccessible : public QAccessibleWidget, public ReadOnlyText {
public:
    ValueAccessible(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return value();
        return QAccessibleWidget::text(t);
    }

    // A toggle is checkable, and checked exactly while it is lit.
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (auto *button = qobject_cast<QAbstractButton *>(widget()); button && button->isCheckable()) {
            state.checkable = true;
            state.checked = button->isChecked();
        }
        return state;
    }

    // Once it has had a value: an emptied value is an emptied text, not a text gone.
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface && widget()->property(valueProperty).isValid())
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The drawing is the element: its parts are not separate elements.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }

    QStringList actionNames() const override
    {
        if (qobject_cast<QAbstractButton *>(widget()))
            return {pressAction()};
        return QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        auto *button = qobject_cast<QAbstractButton *>(widget());
        if (button && name == pressAction() && button->isEnabled())
            button->click();
        else
            QAccessibleWidget::doAction(name);
    }

    using ReadOnlyText::text;

private:
    QString shownText() const override { return value(); }
    QString value() const { return widget()->property(valueProperty).toString(); }
};

// A widget whose value is computed on request, adjustable where it says so, and with a value
// interface where it has a range.
class SourceAccessible final : public QAccessibleWidget, public QAccessibleValueInterface, public ReadOnlyText {
public:
    SourceAccessible(QWidget *widget, AccessibleValueSource *source)
        : QAccessibleWidget(widget, source->isAdjustable() ? QAccessible::Slider : QAccessible::Graphic),
          source_(source)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? source_->accessibleValue() : QAccessibleWidget::text(t);
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface && source_->accessibleRange())
            return static_cast<QAccessibleValueInterface *>(this);
        if (type == QAccessible::TextInterface && !source_->accessibleRange())
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return range().current; }
    void setCurrentValue(const QVariant &value) override
    {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (ok && widget()->isEnabled())
            source_->setAccessibleCurrent(std::clamp(number, range().minimum, range().maximum));
    }
    QVariant maximumValue() const override { return range().maximum; }
    QVariant minimumValue() const override { return range().minimum; }
    QVariant minimumStepSize() const override { return range().step; }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (source_->isAdjustable())
            names << increaseAction() << decreaseAction();
        return names;
    }

    void doAction(const QString &name) override
    {
        if (source_->isAdjustable() && (name == increaseAction() || name == decreaseAction()))
            source_->accessibleAdjust(name == increaseAction());
        else
            QAccessibleWidget::doAction(name);
    }

    using ReadOnlyText::text;

private:
    QString shownText() const override { return source_->accessibleValue(); }
    AccessibleValueSource::AccessibleRange range() const
    {
        return source_->accessibleRange().value_or(AccessibleValueSource::AccessibleRange{});
    }

    AccessibleValueSource *const source_;
};

// A picker named by its label, its choice being its value and its (read-only) text: the text is
// how a reader on the accessibility bus reaches the choice, which has no numeric range. Qt's own
// names a picker on Linux by its current choice, so a screen reader would announce "WAV" where it
// should say "Format". QComboBox announces each change of its choice itself, as a value change.
class PickerAccessible final : public QAccessibleWidget, public ReadOnlyText {
public:
    explicit PickerAccessible(QComboBox *picker)
        : QAccessibleWidget(picker, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return picker()->currentText();
        return QAccessibleWidget::text(t);
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        return state;
    }

    // Its one child is the list of choices, as with Qt's own picker.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == picker()->view() ? 0 : -1;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name != showMenuAction() && name != pressAction())
            return QAccessibleWidget::doAction(name);
        if (!picker()->isEnabled())
            return;
        if (picker()->view()->isVisible())
            picker()->hidePopup();
        else
            picker()->showPopup();
    }

    using ReadOnlyText::text;

private:
    QString shownText() const override { return picker()->currentText(); }
    QComboBox *picker() const { return static_cast<QComboBox *>(widget()); }
};

// A push button of a window whose buttons press at once, for the accessibility bus. Its press acts at once, as a click does:
// the platform's own press flashes the button for a tenth of a second first, and while a
// dismissing button flashes the sheet still blocks its window, whose close requests the
// window system then drops.
class PressAtOnceButtonAccessible final : public QAccessibleWidget {
public:
    explicit PressAtOnceButtonAccessible(QPushButton *button)
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

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (auto *source = dynamic_cast<AccessibleValueSource *>(object))
        return new SourceAccessible(widget, source);
    // Qt's own text fields and spin boxes, which never answer a question at the end of their text.
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return new LineEditAccessible(edit);
    if (auto *box = qobject_cast<QAbstractSpinBox *>(widget))
        return new SpinBoxAccessible(box);
    // Qt's own multi-line text views (an alert's details), whose word and line answers are wrong.
    if (TextViewAccessible::serves(widget))
        return new TextViewAccessible(static_cast<QAbstractScrollArea *>(widget));
    // Plain push buttons only: the kit's own buttons carry interfaces of their own.
    if (auto *button = qobject_cast<QPushButton *>(widget); button && !button->menu()
        && qstrcmp(widget->metaObject()->className(), "QPushButton") == 0
        && button->window()->property(pressAtOnceProperty).toBool())
        return new PressAtOnceButtonAccessible(button);
    if (auto *table = qobject_cast<QTableView *>(widget))
        if (auto *source = dynamic_cast<AccessibleTableSource *>(object))
            return AccessibleTableSource::makeInterface(table, source);
    // Every list, and a file panel's details (a tree whose items never expand; its element is
    // asked for while the panel is built, before the tree is told so): a picker's choices, the
    // file panels' files. Qt's own elements hand the accessibility bus no cell for a row gone
    // since a reader counted them, and the bus uses it unchecked.
    if (auto *list = qobject_cast<QListView *>(widget))
        return AccessibleTableSource::makeItemViewInterface(list);
    if (auto *tree = qobject_cast<QTreeView *>(widget); tree && qobject_cast<QFileDialog *>(tree->window()))
        return AccessibleTableSource::makeItemViewInterface(tree);
    if (auto *area = qobject_cast<QAbstractScrollArea *>(widget); area && ScrollAreaAccessible::serves(className))
        return new ScrollAreaAccessible(area);
    if (const QVariant container = widget->property(containerRoleProperty); container.isValid())
        return new QAccessibleWidget(widget, QAccessible::Role(container.toInt()));
    const QVariant role = widget->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    if (auto *picker = qobject_cast<QComboBox *>(widget); picker && role.toInt() == QAccessible::ComboBox)
        return new PickerAccessible(picker);
    return new ValueAccessible(widget, QAccessible::Role(role.toInt()));
}

} // namespace

void installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        AccessibleBusGuard::install();
        return true;
    }();
    Q_UNUSED(installed);
}

void makeButtonsPressAtOnce(QWidget *window)
{
    installAccessibleFactory();
    window->setProperty(pressAtOnceProperty, true);
}

void makeAccessible(QWidget *widget, QAccessible::Role role)
{
    installAccessibleFactory();
    widget->setProperty(roleProperty, int(role));
}

void makeAccessibleContainer(QWidget *widget, QAccessible::Role role)
{
    installAccessibleFactory();
    widget->setProperty(containerRoleProperty, int(role));
}

void setAccessibleValue(QWidget *widget, const QString &value)
{
    const QString before = widget->property(valueProperty).toString();
    if (before == value)
        return;
    widget->setProperty(valueProperty, value);
    announceValueChange(widget, before, value);
}

void announceValueChange(QWidget *widget, const QString &before, const QString &after)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(widget);
    if (!reader)
        return;
    if (reader->valueInterface() || reader->role() == QAccessible::ComboBox) {
        QAccessibleValueChangeEvent event(widget, after);
        QAccessible::updateAccessibility(&event);
    } else if (reader->textInterface()) {
        QAccessibleTextUpdateEvent event(widget, 0, before, after);
        QAccessible::updateAccessibility(&event);
    }
}

QString accessibleValue(const QWidget *widget)
{
    return widget->property(valueProperty).toString();
}

QString plainToolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

void setPlainToolTip(QWidget *widget, const QString &text)
{
    const QString tip = plainToolTip(text);
    if (widget->toolTip() != tip)
        widget->setToolTip(tip);
}

} // namespace tampod
