#include "views/library/library_table.h"

#include "views/library/library_cells.h"
#include "views/library/library_table_model.h"
#include "views/library/library_texts.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>

namespace tampod {

using namespace LibraryColumns;
using LibraryCells::Part;

LibraryTable::LibraryTable(QWidget *parent) : QTableView(parent), model_(new LibraryTableModel(this))
{
    setModel(model_);
    setItemDelegate(new LibraryCellDelegate(this));
    horizontalHeader()->hide(); // the pane draws its own header strip
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setFrameShape(QFrame::NoFrame);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false); // Tab leaves the table; cell by cell it would load every row
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QPalette clear = palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    setPalette(clear);
    setAccessibleName(LibraryText::tableLabel);
    AccessibleTableSource::claim(this);
}

LibraryTable::~LibraryTable() = default;

void LibraryTable::apply(Update update)
{
    isUpdating_ = true;
    const double previousScale = scale_;
    scale_ = update.scale;
    const bool structural = model_->apply(std::move(update.rows), std::move(update.checked), update.scale);
    if (structural || previousScale != scale_) {
        verticalHeader()->setDefaultSectionSize(std::max(1, qRound(LibraryColumns::rowHeight * scale_)));
        layoutColumns();
    }
    syncSelection(update.selection);
    if (update.focus != focus_) {
        if (const std::optional<int> row = rowOf(update.focus)) {
            // The list lays its rows out on a later turn: scrolled before, a new last row would be
            // scrolled to only as far as the rows before it reach.
            doItemsLayout();
            scrollTo(model_->index(*row, name));
        }
    }
    focus_ = update.focus;
    isUpdating_ = false;
}

std::array<int, count + 1> LibraryTable::columnEdges() const
{
    return edges(viewport()->width(), scale_);
}

void LibraryTable::layoutColumns()
{
    const auto x = columnEdges();
    for (int c = 0; c < count; ++c)
        if (horizontalHeader()->sectionSize(c) != x[c + 1] - x[c])
            horizontalHeader()->resizeSection(c, x[c + 1] - x[c]);
    Q_EMIT columnsChanged();
}

void LibraryTable::syncSelection(const QSet<QUuid> &ids)
{
    // Runs of selected rows make one range each, so a long selection stays cheap.
    QItemSelection wanted;
    const auto &rows = model_->rows();
    int start = -1;
    for (int r = 0; r <= static_cast<int>(rows.size()); ++r) {
        const bool in = r < static_cast<int>(rows.size()) && ids.contains(rows[static_cast<size_t>(r)].id);
        if (in && start < 0)
            start = r;
        if (!in && start >= 0) {
            wanted.select(model_->index(start, 0), model_->index(r - 1, count - 1));
            start = -1;
        }
    }
    QSet<int> have, want;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        have.insert(index.row());
    for (const QItemSelectionRange &range : wanted)
        for (int r = range.top(); r <= range.bottom(); ++r)
            want.insert(r);
    if (have != want)
        selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void LibraryTable::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    // QTableView's own would announce the change by cell numbers that count the hidden headers.
    QAbstractItemView::selectionChanged(selected, deselected);
    AccessibleTableSource::announceSelection(this, selected, deselected);
    if (isUpdating_)
        return;
    QSet<QUuid> ids;
    const int rowCount = model_->rowCount();
    for (const QModelIndex &index : selectionModel()->selectedRows())
        if (index.row() < rowCount)
            ids.insert(model_->row(index.row()).id);
    onSelection(ids);
}

void LibraryTable::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    // As in selectionChanged.
    QAbstractItemView::currentChanged(current, previous);
    AccessibleTableSource::announceCurrent(this, current);
}

void LibraryTable::toggleCheck(int row)
{
    const LibraryRow &r = model_->row(row);
    onCheck(r.id, !model_->isChecked(row));
}

QList<AccessibleTableSource::CellButton> LibraryTable::cellButtons(const QModelIndex &index) const
{
    if (!index.isValid() || index.column() != bpm || index.row() >= model_->rowCount())
        return {};
    const LibraryRow &row = model_->row(index.row());
    const QRect cell = visualRect(index);
    if (LibraryCells::showsGet(row))
        return {{LibraryText::getLabel + row.name, row.canDetectBPM, LibraryCells::getRect(cell)}};
    if (LibraryCells::isBusy(row))
        return {{LibraryText::cancelLabel + row.name, true, LibraryCells::cancelRect(cell)}};
    return {};
}

void LibraryTable::pressCellButton(const QModelIndex &index, int button)
{
    // Decided by the row as it is now, as a click on the drawn button is.
    if (button != 0 || !index.isValid() || index.column() != bpm || index.row() >= model_->rowCount())
        return;
    const LibraryRow &row = model_->row(index.row());
    if (LibraryCells::showsGet(row) && row.canDetectBPM)
        onGetBPM(row.id);
    else if (LibraryCells::isBusy(row))
        onCancelBPM(row.id);
}

bool LibraryTable::isCheckCell(const QModelIndex &index) const
{
    return index.isValid() && index.column() == exportCheck;
}

void LibraryTable::toggleCheckCell(const QModelIndex &index)
{
    if (isCheckCell(index) && index.row() < model_->rowCount())
        toggleCheck(index.row());
}

void LibraryTable::mousePressEvent(QMouseEvent *event)
{
    press_.reset();
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        const Part part = LibraryCells::hit(model_->row(index.row()), index.column(), visualRect(index),
                                            event->position().toPoint(), scale_);
        if (part == Part::check) {
            toggleCheck(index.row());
            event->accept();
            return;
        }
        if ((part == Part::get && model_->row(index.row()).canDetectBPM) || part == Part::cancel) {
            press_ = Press{model_->row(index.row()).id, static_cast<int>(part)};
            event->accept();
            return;
        }
    }
    QTableView::mousePressEvent(event);
}

void LibraryTable::mouseReleaseEvent(QMouseEvent *event)
{
    if (!press_) {
        QTableView::mouseReleaseEvent(event);
        return;
    }
    const Press pressed = *press_;
    press_.reset();
    event->accept();
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || model_->row(index.row()).id != pressed.row)
        return;
    const Part part = LibraryCells::hit(model_->row(index.row()), index.column(), visualRect(index),
                                        event->position().toPoint(), scale_);
    if (static_cast<int>(part) != pressed.part)
        return;
    if (part == Part::get)
        onGetBPM(pressed.row);
    else
        onCancelBPM(pressed.row);
}

void LibraryTable::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    if (!index.isValid())
        return; // below the last row
    // The second click of a double click is a click too: it toggles the check once more, and
    // it never starts or cancels a detection a second time.
    if (index.column() == exportCheck) {
        toggleCheck(index.row());
        return;
    }
    if (index.column() == bpm)
        return;
    onPlay(model_->row(index.row()).id);
}

void LibraryTable::followSelection()
{
    // The current cell is where the arrow keys start; an update selects rows without making
    // one current, so it is brought to the selection here, selecting nothing itself.
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isRowSelected(current.row()))
        return;
    int last = -1;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        last = std::max(last, index.row());
    const QModelIndex wanted = last < 0 ? QModelIndex() : model_->index(last, current.isValid() ? current.column() : name);
    if (wanted != current)
        selectionModel()->setCurrentIndex(wanted, QItemSelectionModel::NoUpdate);
}

void LibraryTable::focusInEvent(QFocusEvent *event)
{
    // Before the base view, which makes the first cell current when none is: a reader then
    // starts at the selected row. Arriving selects nothing either way.
    followSelection();
    QTableView::focusInEvent(event);
    AccessibleTableSource::announceCurrentOnArrival(this);
}

void LibraryTable::keyPressEvent(QKeyEvent *event)
{
    followSelection();
    QTableView::keyPressEvent(event);
}

bool LibraryTable::viewportEvent(QEvent *event)
{
    const bool resized = event->type() == QEvent::Resize;
    const std::optional<int> focusRow = resized ? rowOf(focus_) : std::nullopt;
    // Whole in sight before the list took its new size.
    const bool focusWasWhole = focusRow && isWhole(*focusRow, static_cast<QResizeEvent *>(event)->oldSize().height());
    const bool handled = QTableView::viewportEvent(event);
    if (resized) {
        layoutColumns();
        // A panel that appears below the list takes its height after the list has scrolled to
        // the row it keeps in view: the row is brought back into sight.
        if (focusWasWhole && !isWhole(*focusRow, viewport()->height()))
            scrollTo(model_->index(*focusRow, name));
    }
    return handled;
}

std::optional<int> LibraryTable::rowOf(const std::optional<QUuid> &id) const
{
    if (!id)
        return std::nullopt;
    const auto &rows = model_->rows();
    const auto found = std::find_if(rows.cbegin(), rows.cend(), [&](const LibraryRow &r) { return r.id == *id; });
    if (found == rows.cend())
        return std::nullopt;
    return static_cast<int>(found - rows.cbegin());
}

bool LibraryTable::isWhole(int row, int viewportHeight) const
{
    const int top = rowViewportPosition(row);
    return top >= 0 && top + rowHeight(row) <= viewportHeight;
}

} // namespace tampod
