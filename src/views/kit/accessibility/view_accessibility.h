#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace tampod {

// Custom-drawn widgets announce a role and a value text through one accessible-interface
// factory; screen readers and tests read them with QAccessible::queryAccessibleInterface.
// Call in the widget's constructor, before anything asks for its interface. A QComboBox made
// a ComboBox this way is named by its accessible name, its current choice being its value.
void makeAccessible(QWidget *widget, QAccessible::Role role);
// A widget that holds others (a window, a pane) announced with role and its accessible name;
// its children stay elements of their own. Qt makes every plain widget a nameless filler, which
// a reader passes over: a window that is one is no window to it, and its focus says nothing.
void makeAccessibleContainer(QWidget *widget, QAccessible::Role role);
// The push buttons of window (a sheet) act at once on a screen reader's press, as a click
// does: the platform's own press flashes the button first, and while a dismissing button
// flashes, its sheet still blocks the window under it, whose close requests are then dropped.
void makeButtonsPressAtOnce(QWidget *window);

// Installs (once) the factory behind makeAccessible, AccessibleValueSource and
// AccessibleTableSource, which also gives every scroll area, list view, file panel's details,
// line edit and spin box the kit's own elements. The application installs it before any window.
void installAccessibleFactory();
void setAccessibleValue(QWidget *widget, const QString &value);
QString accessibleValue(const QWidget *widget);
// Tells an active screen reader that widget's value changed from before to after, in the way
// its interface carries the value: as a value change where it has a range or is a picker, else
// as a change of its text. Nothing is sent for a value that carries neither: the accessibility
// bus would drop it with a warning.
void announceValueChange(QWidget *widget, const QString &before, const QString &after);

// A tooltip that shows text as written, even when it looks like markup (file names do).
QString plainToolTip(const QString &text);
void setPlainToolTip(QWidget *widget, const QString &text);

} // namespace tampod
