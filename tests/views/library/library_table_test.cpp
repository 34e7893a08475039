#include "views/library/library_table.h"
#include "views/library/library_table_model.h"

#include "library_fixture.h"

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
