#pragma once

#include <QVariantList>

class QAccessibleInterface;

namespace tampod {

// Where a table's child lies, by its number among the table's children as the table counts
// them (column headings included): what a reader on the accessibility bus asks with
// GetRowColumnExtentsAtIndex. A column heading is in no row (-1); a number past the children
// is no cell.
struct AccessibleCellPlace {
    bool found = false;
    int row = -1;
    int column = -1;
    int rowExtent = -1;
    int columnExtent = -1;
    bool selected = false;

    static AccessibleCellPlace of(QAccessibleInterface *table, int index);
    // The bus's answer: success, row, column, row extent, column extent, selected.
    QVariantList answer() const { return {found, row, column, rowExtent, columnExtent, selected}; }
};

} // namespace tampod
