#pragma once

#include <QList>
#include <QModelIndex>
#include <QRect>
#include <QString>

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
    // Call at the end of the view's constructor: an interface asked for while its base class
    // was being built is Qt's own, which is then replaced.
    static void claim(QTableView *view);
};

} // namespace tampod
