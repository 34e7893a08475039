#include "views/kit/accessible_table_source.h"

#include <QAccessible>
#include <QLoggingCategory>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

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
    EXPECT_EQ(cells->cellAt(3, 0), nullptr);
    EXPECT_EQ(cells->cellAt(0, 5), nullptr);
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
