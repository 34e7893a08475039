#include "views/internal/waveform_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace tampod {

namespace {

class ValueAccessible final : public QAccessibleWidget {
public:
    ValueAccessible(QWidget *widget, AccessibleValueSource *source)
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
    auto *source = dynamic_cast<AccessibleValueSource *>(object);
    return widget && source ? new ValueAccessible(widget, source) : nullptr;
}

} // namespace

void AccessibleValueSource::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void AccessibleValueSource::valueChanged(QWidget *widget)
{
    if (!QAccessible::isActive())
        return;
    auto *source = dynamic_cast<AccessibleValueSource *>(widget);
    QAccessibleValueChangeEvent event(widget, source ? source->accessibleValue() : QString());
    QAccessible::updateAccessibility(&event);
}

} // namespace tampod
