#pragma once

#include <QAccessibleWidget>
#include <QList>
#include <QString>

class QAbstractScrollArea;
class QWidget;

namespace tampod {

// A scroll area for a screen reader: its viewport, then the containers of its scroll bars
// while they show, then its corner widget while it shows, as Qt's own interface has them.
// Qt's own reads its list without a bounds check, and the accessibility bus passes on whatever
// child index a reader asks for: a reader asking by a count it read a moment before a scroll
// bar went away made it read past its list and crash. Every number out of range is no child
// here. A scroll area the keyboard focus stops at is a pane a reader names, not a filler it
// passes over in silence. The one accessible-interface factory gives it to every QScrollArea
// and to every other scroll area that Qt would give its own.
class ScrollAreaAccessible final : public QAccessibleWidget {
public:
    explicit ScrollAreaAccessible(QAbstractScrollArea *area);

    // The class names (walked from the most derived) whose interface this is.
    static bool serves(const QString &className);

    // A frame around its content (a filler), or a pane where it is a Tab stop of its own.
    QAccessible::Role role() const override;
    bool isValid() const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

private:
    QAbstractScrollArea *area() const;
    QList<QWidget *> children() const;
};

} // namespace tampod
