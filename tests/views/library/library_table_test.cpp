#include "views/library/library_table.h"
#include "views/library/library_table_model.h"

#include "library_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

std::vector<LibraryRow> someRows(int count)
{
    std::vector<LibraryRow> rows;
    for (int i = 0; i < count; ++i) {
        LibraryRow row;
        row.id = QUuid::createUuid();
        row.name = QStringLiteral("take %1.wav").arg(i);
        row.bpm = QStringLiteral("—");
        row.canDetectBPM = true;
        rows.push_back(row);
    }
    return rows;
}

// The ranges the model reported changed, and its resets.
struct Spies {
    explicit Spies(LibraryTableModel &model)
    {
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &model,
                         [this](const QModelIndex &from, const QModelIndex &to) { changed.append({from, to}); });
        QObject::connect(&model, &QAbstractItemModel::modelReset, &model, [this] { ++reset; });
    }
    QList<std::pair<QModelIndex, QModelIndex>> changed;
    int reset = 0;
};

} // namespace

TEST(LibraryTableModel, ReconcilesWithAsLittleAsPossible)
{
    LibraryTableModel model;
    auto rows = someRows(3);
    EXPECT_TRUE(model.apply(rows, {}, 1)) << "the first update is structural";
    Spies spies(model);

    EXPECT_FALSE(model.apply(rows, {}, 1));
    EXPECT_EQ(spies.changed.size() + spies.reset, 0) << "an identical update does nothing";

    // A detection stepping on: the BPM cell alone.
    rows[1].bpmStatus = BPMDetectionQueue::Status{QUuid::createUuid(), 0.1, false};
    model.apply(rows, {}, 1);
    rows[1].bpmStatus->progress = 0.2;
    model.apply(rows, {}, 1);
    ASSERT_EQ(spies.changed.size(), 2);
    for (const auto &call : spies.changed) {
        EXPECT_EQ(call.first, model.index(1, LibraryColumns::bpm));
        EXPECT_EQ(call.second, model.index(1, LibraryColumns::bpm));
    }

    // A checked row: its Export cell.
    spies.changed.clear();
    model.apply(rows, {rows[2].id}, 1);
    ASSERT_EQ(spies.changed.size(), 1);
    EXPECT_EQ(spies.changed[0].first, model.index(2, LibraryColumns::exportCheck));
    EXPECT_EQ(spies.changed[0].second, model.index(2, LibraryColumns::exportCheck));

    // A renamed row: that whole row.
    spies.changed.clear();
    rows[0].name = "renamed.wav";
    model.apply(rows, {rows[2].id}, 1);
    ASSERT_EQ(spies.changed.size(), 1);
    EXPECT_EQ(spies.changed[0].first, model.index(0, 0));
    EXPECT_EQ(spies.changed[0].second, model.index(0, LibraryColumns::count - 1));
    EXPECT_EQ(spies.reset, 0);

    // Two rows swapping places, or another scale: everything.
    std::swap(rows[0], rows[1]);
    EXPECT_TRUE(model.apply(rows, {}, 1));
    EXPECT_TRUE(model.apply(rows, {}, 0.55));
    EXPECT_EQ(spies.reset, 2);
    EXPECT_EQ(model.row(0).name, "take 1.wav");
}

TEST(LibraryColumns, EdgesShareRoundedPositionsAndNameTakesTheRest)
{
    for (double s : {1.0, 0.55, 0.5}) {
        const int width = 800;
        const auto x = LibraryColumns::edges(width, s);
        EXPECT_EQ(x[0], 0);
        EXPECT_EQ(x[1], qRound(44 * s));
        EXPECT_EQ(x.back(), width);
        EXPECT_EQ(x[LibraryColumns::count] - x[LibraryColumns::type], qRound(90 * s));
        for (int c = LibraryColumns::bpm; c < LibraryColumns::count; ++c)
            EXPECT_NEAR(x[c + 1] - x[c], LibraryColumns::widths[c] * s, 1) << c;
    }
    const auto narrow = LibraryColumns::edges(200, 1);
    EXPECT_EQ(narrow[2] - narrow[1], LibraryColumns::nameMinimum);
}

TEST(LibraryTable, SelectionFromTheModelIsNotReportedBack)
{
    LibraryTable table;
    table.resize(600, 400);
    table.show();
    int reported = 0;
    QSet<QUuid> last;
    table.onSelection = [&](const QSet<QUuid> &ids) { ++reported, last = ids; };
    const auto rows = someRows(4);
    table.apply({rows, {rows[1].id, rows[2].id}, std::nullopt, 1, {}});
    EXPECT_EQ(reported, 0);
    EXPECT_EQ(table.selectionModel()->selectedRows().size(), 2);

    // The user's click is reported once; the model echoing it back changes nothing.
    const QRect name = table.visualRect(table.tableModel()->index(3, LibraryColumns::name));
    test::click(table.viewport(), name.center());
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(last, QSet<QUuid>{rows[3].id});
    table.apply({rows, last, std::nullopt, 1, {}});
    EXPECT_EQ(reported, 1);

    // A selection replaced from the model while the user had another.
    table.apply({rows, {rows[0].id}, std::nullopt, 1, {}});
    EXPECT_EQ(reported, 1);
    ASSERT_EQ(table.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(table.selectionModel()->selectedRows()[0].row(), 0);
}

TEST(LibraryTable, ScrollsOncePerFocusChange)
{
    LibraryTable table;
    table.resize(600, 300);
    table.show();
    const auto rows = someRows(100);
    QScrollBar *bar = table.verticalScrollBar();
    table.apply({rows, {}, rows[0].id, 1, {}});
    EXPECT_EQ(bar->value(), 0);

    table.apply({rows, {}, rows[80].id, 1, {}});
    const int scrolled = bar->value();
    EXPECT_GT(scrolled, 0);
    EXPECT_TRUE(table.viewport()->rect().contains(table.visualRect(table.tableModel()->index(80, 1))));

    // The user scrolls away; later updates with the same focus leave the list where it is.
    bar->setValue(0);
    table.apply({rows, {}, rows[80].id, 1, {}});
    table.apply({rows, {rows[3].id}, rows[80].id, 1, {}});
    EXPECT_EQ(bar->value(), 0);

    table.apply({rows, {}, std::nullopt, 1, {}});
    EXPECT_EQ(bar->value(), 0) << "no focus scrolls nothing";
    table.apply({rows, {}, rows[80].id, 1, {}});
    EXPECT_EQ(bar->value(), scrolled);
}

TEST(LibraryTable, AScreenReaderPressesGetAndCancelAndTogglesTheCheck)
{
    LibraryTable table;
    table.resize(600, 400);
    table.show();
    QList<QUuid> got, cancelled;
    QList<std::pair<QUuid, bool>> checks;
    table.onGetBPM = [&](const QUuid &id) { got.append(id); };
    table.onCancelBPM = [&](const QUuid &id) { cancelled.append(id); };
    table.onCheck = [&](const QUuid &id, bool on) { checks.append({id, on}); };
    auto rows = someRows(4);
    rows[1].bpmStatus = BPMDetectionQueue::Status{QUuid::createUuid(), 0.4, false};
    rows[2].canDetectBPM = false;
    rows[3].bpm = QStringLiteral("120");
    table.apply({rows, {}, std::nullopt, 1, {rows[0].id}});

    QAccessibleTableInterface *cells = QAccessible::queryAccessibleInterface(&table)->tableInterface();
    ASSERT_NE(cells, nullptr);
    const auto button = [&](int row) { return cells->cellAt(row, LibraryColumns::bpm)->child(0); };
    const auto press = [](QAccessibleInterface *element) {
        element->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    };

    // Get, and × labelled with what it cancels.
    ASSERT_NE(button(0), nullptr);
    EXPECT_EQ(button(0)->role(), QAccessible::Button);
    EXPECT_EQ(button(0)->text(QAccessible::Name), "Get BPM for take 0.wav");
    press(button(0));
    EXPECT_EQ(got, QList<QUuid>{rows[0].id});
    ASSERT_NE(button(1), nullptr);
    EXPECT_EQ(button(1)->text(QAccessible::Name), "Cancel BPM detection for take 1.wav");
    // Where the × is drawn, at the cell's right end.
    const QRect cell = cells->cellAt(1, LibraryColumns::bpm)->rect();
    EXPECT_TRUE(cell.contains(button(1)->rect()));
    EXPECT_EQ(button(1)->rect().right(), cell.right());
    EXPECT_LT(button(1)->rect().width(), cell.width() / 2);
    press(button(1));
    EXPECT_EQ(cancelled, QList<QUuid>{rows[1].id});
    // A Get that cannot start yet is published disabled and does nothing; a tempo has no button.
    ASSERT_NE(button(2), nullptr);
    EXPECT_TRUE(button(2)->state().disabled);
    press(button(2));
    EXPECT_EQ(got.size(), 1);
    EXPECT_EQ(cells->cellAt(3, LibraryColumns::bpm)->childCount(), 0);

    // A button follows its row: the running detection ends, Get comes back.
    QAccessibleInterface *second = button(1);
    rows[1].bpmStatus.reset();
    table.apply({rows, {}, std::nullopt, 1, {rows[0].id}});
    EXPECT_EQ(second->text(QAccessible::Name), "Get BPM for take 1.wav");
    press(second);
    EXPECT_EQ(got.back(), rows[1].id);
    EXPECT_EQ(cancelled.size(), 1);

    // The Export check: a check box whose toggle checks the row without selecting it.
    QAccessibleInterface *check = cells->cellAt(0, LibraryColumns::exportCheck);
    EXPECT_EQ(check->role(), QAccessible::CheckBox);
    EXPECT_TRUE(check->state().checked);
    EXPECT_FALSE(cells->cellAt(1, LibraryColumns::exportCheck)->state().checked);
    check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    cells->cellAt(1, LibraryColumns::exportCheck)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    const QList<std::pair<QUuid, bool>> expected{{rows[0].id, false}, {rows[1].id, true}};
    EXPECT_EQ(checks, expected);
    EXPECT_TRUE(table.selectionModel()->selectedRows().isEmpty());

    // Other cells keep the table's own toggle: it selects the row.
    cells->cellAt(2, LibraryColumns::name)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(cells->isRowSelected(2));
}
