#include "views/kit/accessibility/accessible_table_source.h"

#include "views/kit/accessibility/view_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QItemSelectionModel>
#include <QPointer>
#include <QHeaderView>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <optional>
#include <utility>

namespace tampod {

namespace {

class TableAccessible;

// Where a cell is on the screen.
QRect globalRect(const QAbstractItemView *view, const QModelIndex &index)
{
    const QRect local = view->visualRect(index);
    return QRect(view->viewport()->mapToGlobal(local.topLeft()), local.size());
}

// An element drawn inside another, with no object and no children of its own.
class DrawnAccessible : public QAccessibleInterface {
public:
    explicit DrawnAccessible(QAccessibleInterface *parent) : parent_(parent) {}

    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return parent_->window(); }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return parent_; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    void setText(QAccessible::Text, const QString &) override {}

private:
    QAccessibleInterface *const parent_;
};

// One button drawn in a cell, read afresh from the source at every request: the cell's buttons
// change with the row (Get becomes × while a detection runs).
class CellButtonAccessible final : public DrawnAccessible, public QAccessibleActionInterface {
public:
    CellButtonAccessible(QAccessibleInterface *cell, QPointer<QAbstractItemView> view, AccessibleTableSource *source,
                         QPersistentModelIndex index, int number)
        : DrawnAccessible(cell), view_(std::move(view)), source_(source), index_(std::move(index)), number_(number)
    {
    }

    // The view is going: nothing may be read from it any more (its destructor is running).
    void detach() { view_.clear(); }

    bool isValid() const override { return button().has_value(); }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? button().value_or(AccessibleTableSource::CellButton{}).name : QString();
    }
    QRect rect() const override
    {
        const auto shown = button();
        if (!shown || shown->area.isEmpty())
            return parent()->rect();
        return QRect(view_->viewport()->mapToGlobal(shown->area.topLeft()), shown->area.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const auto shown = button();
        state.disabled = !shown || !shown->enabled;
        state.invisible = parent()->state().invisible;
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        const auto shown = button();
        if (name == pressAction() && shown && shown->enabled && view_->isEnabled())
            source_->pressCellButton(index_, number_);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    std::optional<AccessibleTableSource::CellButton> button() const
    {
        if (!view_ || !index_.isValid())
            return std::nullopt;
        const QList<AccessibleTableSource::CellButton> buttons = source_->cellButtons(index_);
        if (number_ >= buttons.size())
            return std::nullopt;
        return buttons[number_];
    }

    QPointer<QAbstractItemView> view_;
    AccessibleTableSource *const source_;
    const QPersistentModelIndex index_;
    const int number_;
};

// A cell at a row and column; it owns the elements of its buttons.
class CellAccessible final : public QAccessibleInterface,
                             public QAccessibleTableCellInterface,
                             public QAccessibleActionInterface {
public:
    CellAccessible(TableAccessible *table, QAbstractItemView *view, AccessibleTableSource *source, int row, int column)
        : table_(table), view_(view), source_(source), row_(row), column_(column)
    {
    }
    ~CellAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(buttons_))
            QAccessible::deleteAccessibleInterface(id);
    }

    QModelIndex index() const
    {
        return view_ && view_->model() ? view_->model()->index(row_, column_, view_->rootIndex()) : QModelIndex();
    }

    // The view is going (its destructor is running): the cell and its buttons turn invalid
    // before they are deleted, so that nothing reads the view through them any more.
    void detach()
    {
        view_.clear();
        for (const QAccessible::Id id : std::as_const(buttons_))
            if (auto *button = static_cast<CellButtonAccessible *>(QAccessible::accessibleInterface(id)))
                button->detach();
    }

    bool isValid() const override { return index().isValid(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface *button = child(i); button->rect().contains(x, y))
                return button;
        return nullptr;
    }
    QAccessibleInterface *parent() const override;
    int childCount() const override { return isValid() ? int(source_->cellButtons(index()).size()) : 0; }
    QAccessibleInterface *child(int number) const override
    {
        if (number < 0 || number >= childCount())
            return nullptr;
        if (!buttons_.contains(number)) {
            auto *button = new CellButtonAccessible(const_cast<CellAccessible *>(this), view_, source_,
                                                    QPersistentModelIndex(index()), number);
            buttons_.insert(number, QAccessible::registerAccessibleInterface(button));
        }
        return QAccessible::accessibleInterface(buttons_.value(number));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = buttons_.cbegin(); it != buttons_.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < childCount() ? it.key() : -1;
        return -1;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        const QString text = index().data(Qt::AccessibleTextRole).toString();
        return text.isEmpty() ? index().data(Qt::DisplayRole).toString() : text;
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return isValid() ? globalRect(view_, index()) : QRect(); }
    QAccessible::Role role() const override;
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QModelIndex at = index();
        state.selectable = true;
        state.selected = isSelected();
        state.focusable = true;
        state.focused = view_->hasFocus() && view_->currentIndex() == at;
        state.disabled = !view_->isEnabled() || !(at.flags() & Qt::ItemIsEnabled);
        state.invisible = !view_->viewport()->rect().intersects(view_->visualRect(at));
        if (source_->isCheckCell(at)) {
            state.checkable = true;
            state.checked = at.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        }
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override
    {
        return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(index());
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override;
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    // QAccessibleActionInterface
    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString &name) override
    {
        if (name != toggleAction() || !isValid() || !view_->isEnabled())
            return;
        const QModelIndex at = index();
        if (source_->isCheckCell(at)) {
            source_->toggleCheckCell(at);
            return;
        }
        // As Qt's own cells do: toggle the selection of the cell's row.
        if (QItemSelectionModel *selection = view_->selectionModel())
            selection->select(at, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    TableAccessible *const table_;
    QPointer<QAbstractItemView> view_;
    AccessibleTableSource *const source_;
    const int row_;
    const int column_;
    mutable QHash<int, QAccessible::Id> buttons_;
};

// A column's heading, first row of a tree's elements, as Qt numbers them.
class HeaderCellAccessible final : public DrawnAccessible {
public:
    HeaderCellAccessible(QAccessibleInterface *table, QTreeView *view, int column)
        : DrawnAccessible(table), view_(view), column_(column)
    {
    }

    void detach() { view_.clear(); }

    bool isValid() const override { return view_ && view_->model() && column_ < view_->model()->columnCount(view_->rootIndex()); }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        const QString text = view_->model()->headerData(column_, Qt::Horizontal, Qt::AccessibleTextRole).toString();
        return text.isEmpty() ? view_->model()->headerData(column_, Qt::Horizontal).toString() : text;
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QHeaderView *header = view_->header();
        const QPoint origin = header->mapToGlobal(QPoint(0, 0));
        return QRect(origin.x() + header->sectionPosition(column_), origin.y(), header->sectionSize(column_), header->height());
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invalid = !isValid();
        state.invisible = !isValid() || !view_->header()->isVisible();
        return state;
    }

private:
    QPointer<QTreeView> view_;
    const int column_;
};

// The table: rows × columns cells. A tree's elements start with a row of its column headings
// (even hidden), as QTreeView numbers them in its own announcements; a list or a table view
// draws none.
class TableAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    TableAccessible(QAbstractItemView *view, AccessibleTableSource *source, QAccessible::Role role)
        : QAccessibleWidget(view, role), source_(source), headingRows_(role == QAccessible::Tree ? 1 : 0)
    {
    }
    // Deleted when the view emits destroyed(), from QWidget's destructor: the view is no
    // table view any more.
    ~TableAccessible() override { clearCells(true); }

    QAbstractItemView *view() const { return static_cast<QAbstractItemView *>(widget()); }
    // A list's cells are its items.
    QAccessible::Role cellRole() const
    {
        const QAccessible::Role table = role();
        return table == QAccessible::List ? QAccessible::ListItem : table == QAccessible::Tree ? QAccessible::TreeItem : QAccessible::Cell;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return (headingRows_ + rowCount()) * columnCount(); }
    QAccessibleInterface *child(int number) const override
    {
        const int columns = columnCount();
        if (number < 0 || columns == 0 || number >= childCount())
            return nullptr;
        if (number < headingRows_ * columns)
            return heading(number);
        return cellAt(number / columns - headingRows_, number % columns);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child || child->parent() != this)
            return -1;
        for (auto it = headings_.cbegin(); it != headings_.cend(); ++it)
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < columnCount() ? it.key() : -1;
        auto *cell = const_cast<QAccessibleInterface *>(child)->tableCellInterface();
        if (!cell || cell->rowIndex() < 0 || cell->rowIndex() >= rowCount() || cell->columnIndex() >= columnCount())
            return -1;
        return (headingRows_ + cell->rowIndex()) * columnCount() + cell->columnIndex();
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return at.isValid() ? cellAt(at.row(), at.column()) : nullptr;
    }
    // The current cell, as with Qt's own item views.
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return current.isValid() && current.parent() == view()->rootIndex() ? cellAt(current.row(), current.column())
                                                                          : nullptr;
    }

    // QAccessibleTableInterface
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    // A cell no longer there is one invalid element, not none: the accessibility bus uses the
    // cell it asked for without checking, and a reader asks by a row count it read a moment
    // before rows went away.
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
            row = column = goneCell;
        const QPair<int, int> key(row, column);
        if (!cells_.contains(key)) {
            auto *cell = new CellAccessible(const_cast<TableAccessible *>(this), view(), source_, row, column);
            cells_.insert(key, QAccessible::registerAccessibleInterface(cell));
        }
        return QAccessible::accessibleInterface(cells_.value(key));
    }
    // The heading of a column, for a tree.
    QAccessibleInterface *heading(int column) const
    {
        if (!headingRows_ || column < 0 || column >= columnCount())
            return nullptr;
        if (!headings_.contains(column))
            headings_.insert(column, QAccessible::registerAccessibleInterface(new HeaderCellAccessible(
                                        const_cast<TableAccessible *>(this), static_cast<QTreeView *>(view()), column)));
        return QAccessible::accessibleInterface(headings_.value(column));
    }
    int selectedCellCount() const override { return int(selectedIndexes().size()); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        QList<QAccessibleInterface *> cells;
        for (const QModelIndex &index : selectedIndexes())
            cells.append(cellAt(index.row(), index.column()));
        return cells;
    }
    QString columnDescription(int column) const override
    {
        return model() ? model()->headerData(column, Qt::Horizontal).toString() : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return int(selectedColumns().size()); }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return model() ? model()->columnCount(view()->rootIndex()) : 0; }
    int rowCount() const override { return model() ? model()->rowCount(view()->rootIndex()) : 0; }
    QList<int> selectedColumns() const override
    {
        QList<int> columns;
        for (int column = 0; column < columnCount(); ++column)
            if (isColumnSelected(column))
                columns.append(column);
        return columns;
    }
    QList<int> selectedRows() const override
    {
        QList<int> rows;
        if (QItemSelectionModel *selection = view()->selectionModel())
            for (const QModelIndex &index : selection->selectedRows())
                if (index.parent() == view()->rootIndex())
                    rows.append(index.row());
        return rows;
    }
    bool isColumnSelected(int column) const override
    {
        return view()->selectionModel() && view()->selectionModel()->isColumnSelected(column, view()->rootIndex());
    }
    bool isRowSelected(int row) const override
    {
        return view()->selectionModel() && view()->selectionModel()->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override
    {
        return selectRowAs(row, view()->selectionMode() == QAbstractItemView::SingleSelection
                                    ? QItemSelectionModel::ClearAndSelect
                                    : QItemSelectionModel::Select);
    }
    bool unselectRow(int row) override { return selectRowAs(row, QItemSelectionModel::Deselect); }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    // Rows or columns came, went or moved: cells are kept by position, so they all start
    // afresh. A cell whose data changed stays the same element.
    void modelChange(QAccessibleTableModelChangeEvent *event) override
    {
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged)
            clearCells(false);
    }

private:
    QAbstractItemModel *model() const { return view()->model(); }
    QModelIndexList selectedIndexes() const
    {
        return view()->selectionModel() ? view()->selectionModel()->selectedIndexes() : QModelIndexList();
    }
    bool selectRowAs(int row, QItemSelectionModel::SelectionFlags flags)
    {
        QItemSelectionModel *selection = view()->selectionModel();
        if (!selection || row < 0 || row >= rowCount() || view()->selectionMode() == QAbstractItemView::NoSelection)
            return false;
        selection->select(model()->index(row, 0, view()->rootIndex()), flags | QItemSelectionModel::Rows);
        return true;
    }
    void clearCells(bool viewGoing)
    {
        drop<HeaderCellAccessible>(headings_, viewGoing);
        drop<CellAccessible>(cells_, viewGoing);
    }
    // Deletes the elements; when the view is going, they stop reading it first.
    template <typename Element, typename Key>
    static void drop(QHash<Key, QAccessible::Id> &elements, bool viewGoing)
    {
        for (const QAccessible::Id id : std::exchange(elements, {})) {
            if (auto *element = static_cast<Element *>(QAccessible::accessibleInterface(id)); element && viewGoing)
                element->detach();
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    static constexpr int goneCell = -1;
    AccessibleTableSource *const source_;
    const int headingRows_; // rows of headings before the cells
    mutable QHash<QPair<int, int>, QAccessible::Id> cells_;
    mutable QHash<int, QAccessible::Id> headings_;
};

QWindow *CellAccessible::window() const
{
    return table_->window();
}

QAccessibleInterface *CellAccessible::parent() const
{
    return table_;
}

QList<QAccessibleInterface *> CellAccessible::columnHeaderCells() const
{
    QAccessibleInterface *heading = isValid() ? table_->heading(column_) : nullptr;
    return heading ? QList<QAccessibleInterface *>{heading} : QList<QAccessibleInterface *>{};
}

QAccessible::Role CellAccessible::role() const
{
    return isValid() && source_->isCheckCell(index()) ? QAccessible::CheckBox : table_->cellRole();
}

} // namespace

AccessibleTableSource::AccessibleTableSource()
{
    installAccessibleFactory();
}

QAccessibleInterface *AccessibleTableSource::makeInterface(QTableView *view, AccessibleTableSource *source)
{
    return new TableAccessible(view, source, QAccessible::Table);
}

QAccessibleInterface *AccessibleTableSource::makeItemViewInterface(QAbstractItemView *view)
{
    static AccessibleTableSource plainItems; // no buttons and no check cells
    return new TableAccessible(view, &plainItems, qobject_cast<QTreeView *>(view) ? QAccessible::Tree : QAccessible::List);
}

int AccessibleTableSource::cellNumber(const QModelIndex &index)
{
    return index.row() * index.model()->columnCount(index.parent()) + index.column();
}

namespace {

// A cell of view's model now (a change may name rows already gone).
bool isCell(const QTableView *view, const QModelIndex &index)
{
    const QAbstractItemModel *model = view->model();
    const QModelIndex root = view->rootIndex();
    return index.isValid() && index.model() == model && index.parent() == root && index.row() < model->rowCount(root)
           && index.column() < model->columnCount(root);
}

void announce(QTableView *view, QAccessible::Event type, const QModelIndex &cell)
{
    QAccessibleEvent event(view, type);
    event.setChild(AccessibleTableSource::cellNumber(cell));
    QAccessible::updateAccessibility(&event);
}

} // namespace

void AccessibleTableSource::announceSelection(QTableView *view, const QItemSelection &selected,
                                              const QItemSelection &deselected)
{
    if (!QAccessible::isActive())
        return;
    // As QTableView does, the first cell of a change stands for it.
    if (const QModelIndex first = selected.isEmpty() ? QModelIndex() : QModelIndex(selected.first().topLeft()); isCell(view, first))
        announce(view, QAccessible::SelectionAdd, first);
    if (const QModelIndex first = deselected.isEmpty() ? QModelIndex() : QModelIndex(deselected.first().topLeft()); isCell(view, first))
        announce(view, QAccessible::SelectionRemove, first);
}

void AccessibleTableSource::announceCurrent(QTableView *view, const QModelIndex &current)
{
    // Only where the keyboard is: a current cell set by an update while the keyboard is
    // elsewhere must not pull a screen reader's focus into the table.
    if (QAccessible::isActive() && view->hasFocus() && isCell(view, current))
        announce(view, QAccessible::Focus, current);
}

void AccessibleTableSource::announceCurrentOnArrival(QTableView *view)
{
    if (QAccessible::isActive())
        QMetaObject::invokeMethod(view, [view] { announceCurrent(view, view->currentIndex()); }, Qt::QueuedConnection);
}

void AccessibleTableSource::claim(QAbstractItemView *view)
{
    QAccessibleInterface *current = QAccessible::queryAccessibleInterface(view);
    if (current && !dynamic_cast<TableAccessible *>(current)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(current));
        QAccessible::queryAccessibleInterface(view);
    }
}

} // namespace tampod
