#pragma once

#include <QItemSelection>
#include <QList>
#include <QModelIndex>
#include <QRect>
#include <QString>

class QAbstractItemView;
class QAccessibleInterface;
class QTableView;

namespace tampod {

// A table view whose drawn cells hold controls: check cells a screen reader can toggle, and
// buttons a screen reader can press, each a child element of its cell. Qt's own table elements
// offer one action per cell, which selects it; a table view deriving from this class gets its
// interface from the one accessible-interface factory of view_accessibility.h instead. Cells
// are named by the model's Qt::AccessibleTextRole (else its display text); a check cell's state
// is the model's Qt::CheckStateRole.
class AccessibleTableSource {
public:
    struct CellButton {
        QString name;
        bool enabled = true;
        QRect area; // in the view's viewport; empty: the whole cell
    };

    // Installs the factory first, as AccessibleValueSource does.
    AccessibleTableSource();
    virtual ~AccessibleTableSource() = default;

    // The buttons drawn in a cell now; their order is the order of pressCellButton's numbers.
    virtual QList<CellButton> cellButtons(const QModelIndex &) const { return {}; }
    virtual void pressCellButton(const QModelIndex &, int /*button*/) {}
    // A check cell's toggle is its own action; every other cell's toggle selects its row.
    virtual bool isCheckCell(const QModelIndex &) const { return false; }
    virtual void toggleCheckCell(const QModelIndex &) {}

    // The interface the factory gives view.
    static QAccessibleInterface *makeInterface(QTableView *view, AccessibleTableSource *source);
    // The same for a plain list of items, or a tree whose items do not expand, without buttons
    // or check cells: the factory gives it to every list view (a picker's choices, a file
    // panel's files) and to a file panel's details. Qt's own elements hand the
    // accessibility bus no cell for a row a reader asks for after it went, which the bus then
    // uses and crashes on. Cells are the items under the view's root.
    static QAccessibleInterface *makeItemViewInterface(QAbstractItemView *view);
    // Call at the end of the view's constructor: an interface asked for while its base class
    // was being built is Qt's own, which is then replaced.
    static void claim(QAbstractItemView *view);
    // The cell number of index in the interface: row × columns + column.
    static int cellNumber(const QModelIndex &index);
    // QTableView announces a new selection and a new current cell numbering cells as if its
    // hidden headers took a row and a column, so a screen reader would be sent to another cell
    // or to none. The view's selectionChanged and currentChanged call QAbstractItemView's
    // instead of QTableView's, and these to announce the cells by their numbers here.
    static void announceSelection(QTableView *view, const QItemSelection &selected, const QItemSelection &deselected);
    static void announceCurrent(QTableView *view, const QModelIndex &current);
    // Call from the view's focusInEvent: Qt announces the table as the focus once the event is
    // handled, and a reader then hears only its size; the current cell is announced after it.
    static void announceCurrentOnArrival(QTableView *view);
};

} // namespace tampod
