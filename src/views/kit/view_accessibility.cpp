#include "views/kit/view_accessibility.h"

#include "views/kit/accessible_value_source.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QTextDocument>
#include <QVariant>
#include <QWidget>

namespace tampod {

namespace {

const char *const roleProperty = "tampodAccessibleRole";
const char *const valueProperty = "tampodAccessibleValue";

class ValueAccessible : public QAccessibleWidget {
public:
    ValueAccessible(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return widget()->property(valueProperty).toString();
        return QAccessibleWidget::text(t);
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
};

// A widget whose value is computed on request, and adjustable where it says so.
class SourceAccessible final : public QAccessibleWidget {
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

private:
    AccessibleValueSource *const source_;
};

QAccessibleInterface *factory(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (auto *source = dynamic_cast<AccessibleValueSource *>(object))
        return new SourceAccessible(widget, source);
    const QVariant role = widget->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new ValueAccessible(widget, QAccessible::Role(role.toInt()));
}

} // namespace

void installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void makeAccessible(QWidget *widget, QAccessible::Role role)
{
    installAccessibleFactory();
    widget->setProperty(roleProperty, int(role));
}

void setAccessibleValue(QWidget *widget, const QString &value)
{
    if (widget->property(valueProperty).toString() == value)
        return;
    widget->setProperty(valueProperty, value);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(widget, value);
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
