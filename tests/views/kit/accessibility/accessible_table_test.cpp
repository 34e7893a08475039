#include "views/kit/accessibility/accessible_cell_place.h"
#include "views/kit/accessibility/accessible_table_source.h"
#include "views/kit/accessibility/view_accessibility.h"

#include <QAccessible>
#include <QComboBox>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QListView>
#include <QLoggingCategory>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace tampod;

namespace {

// A table of plain cells, more columns than rows.
class CellTable : public QTableView, public AccessibleTableSource {
public:
    CellTable(int rows, int columns) : cells(new QStandardItemModel(rows, columns, this))
    {
        setModel(cells);
        AccessibleTableSource::claim(this);
    }

    QStandardItemModel *const cells;
};

} // namespace

TEST(AccessibleTable, NumbersCellsRowByRowAndGivesEachBackByItsNumber)
{
    CellTable view(3, 5);
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(table, nullptr);
    QAccessibleTableInterface *cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    ASSERT_EQ(table->childCount(), 15);

    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            QAccessibleInterface *cell = cells->cellAt(row, column);
            ASSERT_NE(cell, nullptr) << row << "," << column;
            EXPECT_EQ(table->indexOfChild(cell), row * 5 + column) << row << "," << column;
            EXPECT_EQ(table->child(row * 5 + column), cell) << row << "," << column;
            EXPECT_EQ(cell->parent(), table);
            EXPECT_EQ(cell->tableCellInterface()->rowIndex(), row);
            EXPECT_EQ(cell->tableCellInterface()->columnIndex(), column);
            EXPECT_EQ(AccessibleTableSource::cellNumber(view.cells->index(row, column)), row * 5 + column);
        }
    }
    EXPECT_EQ(table->child(15), nullptr);
    EXPECT_EQ(table->child(-1), nullptr);
}

// The accessibility bus reads a cell's extent and selection through whatever cellAt gives,
// unchecked: a row or column past the table (a reader's count from before rows went) is one
// invalid cell, never none, and has no number.
TEST(AccessibleTable, ACellPastTheTableIsAnInvalidCellWithoutANumber)
{
    CellTable view(3, 5);
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(&view);
    QAccessibleTableInterface *cells = table->tableInterface();
    for (const auto &[row, column] : {std::pair{3, 0}, {0, 5}, {-1, 2}, {1000000, 1000000}}) {
        QAccessibleInterface *gone = cells->cellAt(row, column);
        ASSERT_NE(gone, nullptr) << row << "," << column;
        ASSERT_NE(gone->tableCellInterface(), nullptr);
        EXPECT_FALSE(gone->isValid());
        EXPECT_FALSE(gone->tableCellInterface()->isSelected());
        EXPECT_EQ(table->indexOfChild(gone), -1);
        EXPECT_EQ(gone->text(QAccessible::Name), QString());
    }
    EXPECT_EQ(cells->cellAt(3, 0), cells->cellAt(7, 9)); // one element, however many are asked for
    view.selectAll();
    EXPECT_EQ(cells->selectedCells().size(), 15);
}

TEST(AccessibleTable, ACellWhoseRowIsGoneHasNoNumber)
{
    CellTable view(3, 5);
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(&view);
    QAccessibleInterface *last = table->tableInterface()->cellAt(2, 4);
    ASSERT_NE(last, nullptr);

    view.cells->removeRows(1, 2);
    // Whether or not the table heard of the change (it does only while a screen reader is on),
    // a cell of a row that is gone is no element of it.
    if (QAccessible::accessibleInterface(QAccessible::uniqueId(last)) == last) {
        EXPECT_FALSE(last->isValid());
        EXPECT_EQ(table->indexOfChild(last), -1);
    }
    EXPECT_EQ(table->childCount(), 5);
    EXPECT_EQ(table->child(14), nullptr);
    EXPECT_EQ(table->indexOfChild(table->child(4)), 4);
}

TEST(AccessibleTable, ItsCellsReadNothingFromAViewBeingDestroyed)
{
    // The cache's log describes every element it drops, reading its state and place: as the
    // view is destroyed, its cells are dropped while its destructor runs.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.accessibility.cache.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    auto view = std::make_unique<CellTable>(3, 5);
    view->show();
    QAccessibleTableInterface *cells = QAccessible::queryAccessibleInterface(view.get())->tableInterface();
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 5; ++column)
            ASSERT_NE(cells->cellAt(row, column), nullptr);
    view.reset();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
}

// Every list view, a picker's choices and a file panel's files alike, is read as the kit's
// list: its items under the view's root (a file panel shows one folder of its model), each
// disabled choice disabled, and a row past the list an invalid item rather than none, which
// the accessibility bus would use unchecked.
TEST(AccessibleTable, ListsArePickersAndFoldersItemsUnderTheirRoot)
{
    installAccessibleFactory(); // as the application does first
    QComboBox picker;
    picker.addItems({QStringLiteral("44.1 kHz"), QStringLiteral("48 kHz")});
    qobject_cast<QStandardItemModel *>(picker.model())->item(1)->setEnabled(false);
    QAccessibleInterface *choices = QAccessible::queryAccessibleInterface(picker.view());
    ASSERT_NE(choices, nullptr);
    EXPECT_EQ(choices->role(), QAccessible::List);
    ASSERT_NE(choices->tableInterface(), nullptr);
    EXPECT_EQ(choices->childCount(), 2);
    QAccessibleInterface *second = choices->tableInterface()->cellAt(1, 0);
    EXPECT_EQ(second->role(), QAccessible::ListItem);
    EXPECT_EQ(second->text(QAccessible::Name), QStringLiteral("48 kHz"));
    EXPECT_TRUE(second->state().disabled);
    EXPECT_FALSE(choices->tableInterface()->cellAt(0, 0)->state().disabled);
    picker.removeItem(1);
    ASSERT_NE(choices->tableInterface()->cellAt(1, 0), nullptr);
    EXPECT_FALSE(choices->tableInterface()->cellAt(1, 0)->isValid());

    QStandardItemModel folders;
    auto *folder = new QStandardItem(QStringLiteral("Takes"));
    folder->appendRow({new QStandardItem(QStringLiteral("a.wav")), new QStandardItem(QStringLiteral("1 MB"))});
    folder->appendRow({new QStandardItem(QStringLiteral("b.wav")), new QStandardItem(QStringLiteral("2 MB"))});
    folders.appendRow(folder);
    QListView files;
    files.setModel(&folders);
    files.setRootIndex(folder->index());
    QAccessibleTableInterface *listed = QAccessible::queryAccessibleInterface(&files)->tableInterface();
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->rowCount(), 2);
    EXPECT_EQ(listed->columnCount(), 2);
    EXPECT_EQ(listed->cellAt(1, 0)->text(QAccessible::Name), QStringLiteral("b.wav"));
    files.setCurrentIndex(folders.index(1, 0, folder->index()));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&files)->focusChild(), listed->cellAt(1, 0));
    EXPECT_FALSE(listed->cellAt(2, 0)->isValid());
}

// A file panel's details, a tree whose items do not expand, is read as the kit's tree: its
// column headings first, then its rows, numbered as QTreeView numbers the cells it announces
// (the headings counted, even hidden), and a row past the tree an invalid item, not none.
TEST(AccessibleTable, AFlatTreeIsNumberedAsItAnnouncesItsCells)
{
    installAccessibleFactory();
    QStandardItemModel folders;
    folders.setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size")});
    auto *folder = new QStandardItem(QStringLiteral("Takes"));
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        folder->appendRow({new QStandardItem(QLatin1String(name)), new QStandardItem(QStringLiteral("1 MB"))});
    folders.appendRow(folder);
    QFileDialog panel;
    QTreeView details(&panel);
    details.setItemsExpandable(false);
    details.setRootIsDecorated(false);
    details.setModel(&folders);
    details.setRootIndex(folder->index());

    QAccessibleInterface *tree = QAccessible::queryAccessibleInterface(&details);
    ASSERT_NE(tree->tableInterface(), nullptr);
    EXPECT_EQ(tree->role(), QAccessible::Tree);
    EXPECT_EQ(tree->tableInterface()->rowCount(), 3);
    EXPECT_EQ(tree->childCount(), 8);
    EXPECT_EQ(tree->child(1)->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(tree->child(1)->text(QAccessible::Name), QStringLiteral("Size"));
    QAccessibleInterface *b = tree->tableInterface()->cellAt(1, 0);
    EXPECT_EQ(b->role(), QAccessible::TreeItem);
    EXPECT_EQ(b->text(QAccessible::Name), QStringLiteral("b.wav"));
    EXPECT_EQ(tree->indexOfChild(b), 4);
    EXPECT_EQ(tree->child(4), b);
    EXPECT_EQ(tree->indexOfChild(tree->child(1)), 1);
    EXPECT_EQ(b->tableCellInterface()->columnHeaderCells(), QList<QAccessibleInterface *>{tree->child(0)});
    EXPECT_FALSE(tree->tableInterface()->cellAt(3, 0)->isValid());
    // QTreeView announces cell (row, column) as child (row + 1) × columns + column.
    details.setCurrentIndex(folders.index(2, 1, folder->index()));
    EXPECT_EQ(tree->focusChild(), tree->child(7));

    // The accessibility bus places a child by the same number (found, row, column, selected;
    // the current cell is selected). A heading is in no row; only a number past the children
    // is no cell.
    using Place = std::tuple<bool, int, int, bool>;
    const std::pair<int, Place> places[] = {
        {0, {true, -1, 0, false}}, {1, {true, -1, 1, false}}, {2, {true, 0, 0, false}},   {4, {true, 1, 0, false}},
        {7, {true, 2, 1, true}},   {8, {false, -1, -1, false}}, {-1, {false, -1, -1, false}},
    };
    for (const auto &[index, expected] : places) {
        const AccessibleCellPlace place = AccessibleCellPlace::of(tree, index);
        EXPECT_EQ(Place(place.found, place.row, place.column, place.selected), expected) << index;
    }
}

// Whether a row or a column is selected is asked of the items a view shows, those under its
// root: a file panel's list and details show one folder of their model.
TEST(AccessibleTable, RowsAndColumnsAreSelectedAmongTheItemsUnderTheRoot)
{
    installAccessibleFactory();
    QStandardItemModel folders;
    auto *folder = new QStandardItem(QStringLiteral("Takes"));
    for (const char *name : {"a.wav", "b.wav"})
        folder->appendRow({new QStandardItem(QLatin1String(name)), new QStandardItem(QStringLiteral("1 MB"))});
    folders.appendRow(folder);
    const QModelIndex root = folder->index();
    QFileDialog panel;
    QListView list;
    QTreeView details(&panel);
    details.setItemsExpandable(false);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(&list), static_cast<QAbstractItemView *>(&details)}) {
        view->setModel(&folders);
        view->setRootIndex(root);
        QAccessibleTableInterface *cells = QAccessible::queryAccessibleInterface(view)->tableInterface();
        ASSERT_NE(cells, nullptr);
        view->selectionModel()->select(folders.index(1, 0, root), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        EXPECT_TRUE(cells->isRowSelected(1)) << view->metaObject()->className();
        EXPECT_FALSE(cells->isRowSelected(0));
        EXPECT_EQ(cells->selectedRows(), QList<int>{1});
        view->selectionModel()->select(QItemSelection(folders.index(0, 1, root), folders.index(1, 1, root)),
                                       QItemSelectionModel::Select);
        EXPECT_TRUE(cells->isColumnSelected(1)) << view->metaObject()->className();
        EXPECT_FALSE(cells->isColumnSelected(0));
        EXPECT_EQ(cells->selectedColumns(), QList<int>{1});
        // The folder itself, above the root, is no row of the view.
        view->selectionModel()->select(folder->index(), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        EXPECT_EQ(cells->selectedRows(), QList<int>{1});
    }
}
