#include "views/kit/accessibility/accessible_cell_place.h"

#include <QAccessible>

namespace tampod {

AccessibleCellPlace AccessibleCellPlace::of(QAccessibleInterface *table, int index)
{
    QAccessibleTableInterface *cells = table ? table->tableInterface() : nullptr;
    QAccessibleInterface *child = index >= 0 && cells ? table->child(index) : nullptr;
    if (!child || !child->isValid())
        return {};
    if (QAccessibleTableCellInterface *cell = child->tableCellInterface())
        return {true, cell->rowIndex(), cell->columnIndex(), cell->rowExtent(), cell->columnExtent(), cell->isSelected()};
    if (child->role() == QAccessible::ColumnHeader && cells->columnCount() > 0)
        return {true, -1, index % cells->columnCount(), 1, 1, false};
    return {};
}

} // namespace tampod
