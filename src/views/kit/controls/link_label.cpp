#include "views/kit/controls/link_label.h"

#include <QAccessible>

namespace tampod {

LinkLabel::LinkLabel(const QString &markup, const QString &name, const QString &linkPrefix, QWidget *parent)
    : QLabel(markup, parent)
    , name_(name)
    , linkPrefix_(linkPrefix)
{
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::TextBrowserInteraction);
    setAccessibleName(name_);
}

bool LinkLabel::focusNextPrevChild(bool next)
{
    const bool stays = QLabel::focusNextPrevChild(next);
    // Tab within the label moves from link to link without a focus change of its own.
    if (nameFocusedLink() && hasFocus()) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
    return stays;
}

void LinkLabel::focusInEvent(QFocusEvent *event)
{
    QLabel::focusInEvent(event);
    nameFocusedLink();
}

void LinkLabel::focusOutEvent(QFocusEvent *event)
{
    QLabel::focusOutEvent(event);
    nameFocusedLink();
}

bool LinkLabel::nameFocusedLink()
{
    // A link that has the keyboard is the label's selection.
    const QString link = hasFocus() ? selectedText() : QString();
    const QString wanted = link.isEmpty() ? name_ : linkPrefix_ + link;
    if (accessibleName() == wanted)
        return false;
    setAccessibleName(wanted);
    return true;
}

} // namespace tampod
