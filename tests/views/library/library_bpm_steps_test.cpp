#include "views/library/audio_library_view.h"

#include "views/kit/dialogs/sheet_dialog.h"
#include "views/library/library_rows.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"
#include "views/main/content_view.h"
#include "views/main/fake_main_window_model.h"

#include "library_pane_fixture.h"

#include <ostream>

using namespace tampod;

namespace tampod {

// A row as the failures show it.
void PrintTo(const LibraryRow &row, std::ostream *out)
{
    *out << qPrintable(row.name) << " [" << qPrintable(row.bpm) << "]";
    if (row.bpmStatus)
        *out << (row.bpmStatus->queued ? " queued " : " running ") << row.bpmStatus->progress;
}

} // namespace tampod

namespace {

// A changed range of one row: row, first column, last column.
using Changes = QList<std::array<int, 3>>;
constexpr std::array<int, 3> bpmCellOf(int row) { return {row, LibraryColumns::bpm, LibraryColumns::bpm}; }

// What the table model announced: its changed ranges and its resets.
struct Announced {
    explicit Announced(LibraryTableModel &model)
    {
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &model,
                         [this](const QModelIndex &from, const QModelIndex &to) {
                             EXPECT_EQ(from.row(), to.row());
                             changed.append({from.row(), from.column(), to.column()});
                         });
        QObject::connect(&model, &QAbstractItemModel::modelReset, &model, [this] { ++resets; });
    }
    Changes changed;
    int resets = 0;
};

// Every cell in every role the table reads.
QStringList cells(const LibraryTableModel &model)
{
    QStringList all;
    for (int r = 0; r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            for (const int role : {int(Qt::DisplayRole), int(Qt::AccessibleTextRole), int(Qt::CheckStateRole)})
                all.append(QStringLiteral("%1,%2,%3: ").arg(r).arg(c).arg(role) +
                           model.data(model.index(r, c), role).toString());
    return all;
}

struct BPMSteps : test::LibraryPane {
    LibraryTableModel &tableModel() const { return *pane->table()->tableModel(); }

    // The call-th analysis reports progress; returns once the pane has had its turn.
    void step(size_t call, const QUuid &owner, double progress)
    {
        analyzer->progress.at(call)(progress);
        ASSERT_TRUE(test::pumpUntil([&] { return model->bpmDetection().states().value(owner).progress == progress; }));
        settle();
    }
    // The table shows what a full build of the rows shows, cell by cell.
    void expectAsAFullBuild() const
    {
        EXPECT_EQ(tableModel().rows(), libraryRows(*model));
        LibraryTableModel fresh;
        fresh.apply(libraryRows(*model), model->visibleLibraryIDs(model->exportChecks().ids()), tableModel().scale());
        EXPECT_EQ(cells(tableModel()), cells(fresh));
    }
};

} // namespace

TEST_F(BPMSteps, AProgressStepRedrawsTheBPMCellsOfItsOwnRowsAlone)
{
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    const AudioTrack pair = pairOf(left, right), a = track("a.wav"), c = track("c.wav");
    QList<AudioTrack> tracks{a, pair, c};
    for (int i = 0; i < 20; ++i)
        tracks.append(track(QStringLiteral("more %1.wav").arg(i), 100 + i));
    model->append(tracks);
    model->setExportChecked(pair.id, true);
    model->getBPM(c.id);
    model->getBPM(left.id); // the pair's, waiting for c's
    ASSERT_TRUE(test::pumpUntil([&] { return !model->bpmDetection().states().value(c.id).queued; }));
    settle();
    ASSERT_EQ(tableModel().rows()[3].id, c.id);

    const int refreshes = pane->refreshCount();
    Announced announced(tableModel());
    for (const double progress : {0.1, 0.35, 0.8}) {
        step(0, c.id, progress);
        expectAsAFullBuild();
    }
    EXPECT_EQ(announced.changed, Changes(3, bpmCellOf(3)));
    EXPECT_EQ(announced.resets, 0);
    EXPECT_EQ(pane->refreshCount(), refreshes) << "no row but c's was built";
    EXPECT_EQ(tableModel().row(3).bpmStatus->progress, 0.8);

    // A pair's detection steps on both its channel rows.
    analyzer->end(0, 120);
    ASSERT_TRUE(test::pumpUntil([&] { return !model->bpmDetection().states().value(pair.id).queued; }));
    settle();
    const int then = pane->refreshCount();
    announced.changed.clear();
    step(1, pair.id, 0.5);
    EXPECT_EQ(announced.changed, Changes({bpmCellOf(1), bpmCellOf(2)}));
    EXPECT_EQ(pane->refreshCount(), then);
    expectAsAFullBuild();
    EXPECT_EQ(tableModel().row(3).bpm, "120");
}

TEST_F(BPMSteps, AfterTracksAreRemovedAStepRedrawsItsTracksRow)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav"), c = track("c.wav"), d = track("d.wav");
    model->append({a, b, c, d});
    settle();
    model->selectLibraryRows({a.id, c.id});
    model->removeSelected();
    settle();
    ASSERT_EQ(tableModel().rows().size(), 2u);
    ASSERT_EQ(tableModel().rows()[1].id, d.id);

    Announced announced(tableModel());
    model->getBPM(d.id);
    ASSERT_TRUE(test::pumpUntil([&] { return !model->bpmDetection().states().value(d.id).queued; }));
    settle();
    step(0, d.id, 0.25);
    ASSERT_TRUE(tableModel().row(1).bpmStatus.has_value());
    EXPECT_EQ(tableModel().row(1).bpmStatus->progress, 0.25);
    ASSERT_FALSE(announced.changed.isEmpty());
    EXPECT_EQ(announced.changed.last(), bpmCellOf(1));
    expectAsAFullBuild();
}

TEST_F(BPMSteps, AnEndedDetectionRedrawsItsOwnRowAlone)
{
    const AudioTrack a = track("a.wav"), c = track("c.wav"), d = track("d.wav");
    QList<AudioTrack> tracks{a, c, d};
    for (int i = 0; i < 20; ++i)
        tracks.append(track(QStringLiteral("more %1.wav").arg(i), 100 + i));
    model->append(tracks);
    Announced announced(tableModel());
    // Found, c's row shows the tempo; failed, d's progress ends and it offers detection again.
    for (const bool found : {true, false}) {
        SCOPED_TRACE(found ? "found" : "failed");
        const size_t call = found ? 0 : 1;
        const int row = found ? 1 : 2;
        const QUuid id = found ? c.id : d.id;
        settle();
        const QString before = tableModel().row(row).bpm;
        model->getBPM(id);
        ASSERT_TRUE(test::pumpUntil([&] { return analyzer->progress.size() == call + 1; }));
        step(call, id, 0.6);
        ASSERT_TRUE(tableModel().row(row).bpmStatus);

        const int refreshes = pane->refreshCount();
        announced.changed.clear();
        announced.resets = 0;
        if (found)
            analyzer->end(call, 121);
        else
            analyzer->fail(call, std::make_exception_ptr(std::runtime_error("no beat")));
        ASSERT_TRUE(test::pumpUntil([&] { return !model->bpmDetection().activeID(); }));
        settle();
        EXPECT_FALSE(tableModel().row(row).bpmStatus) << testing::PrintToString(tableModel().row(row));
        EXPECT_EQ(tableModel().row(row).bpm, found ? QStringLiteral("121") : before);
        EXPECT_EQ(tableModel().row(row).canDetectBPM, !found);
        EXPECT_EQ(pane->refreshCount(), refreshes) << "the library was built again";
        EXPECT_EQ(announced.resets, 0);
        EXPECT_FALSE(announced.changed.isEmpty());
        for (const auto &change : announced.changed)
            EXPECT_EQ(change[0], row) << "row " << change[0] << " redrawn";
        expectAsAFullBuild();
    }
}

// Rows "take 0.wav" onwards, each with an id of its own.
static std::vector<LibraryRow> takes(size_t count)
{
    std::vector<LibraryRow> rows(count);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].id = QUuid::createUuid();
        rows[i].name = QStringLiteral("take %1.wav").arg(i);
    }
    return rows;
}

TEST(LibraryTableModelUpdate, ReconcilesTheRowsOfTheirIDsAndLeavesTheRestAlone)
{
    std::vector<LibraryRow> rows = takes(4);
    LibraryTableModel model;
    model.apply(rows, {rows[2].id}, 1);
    Announced announced(model);

    EXPECT_TRUE(model.update({rows[1]}));
    EXPECT_TRUE(announced.changed.isEmpty()) << "an identical row changes nothing";

    rows[1].bpmStatus = BPMDetectionQueue::Status{QUuid::createUuid(), 0.2, false};
    rows[2].name = QStringLiteral("renamed.wav");
    EXPECT_TRUE(model.update({rows[2], rows[1]}));
    const Changes expected{{2, 0, LibraryColumns::count - 1}, bpmCellOf(1)};
    EXPECT_EQ(announced.changed, expected);
    EXPECT_EQ(model.rows(), rows);
    EXPECT_TRUE(model.isChecked(2)) << "the checks stay";

    // A row the table does not have: nothing changes, and the caller rebuilds.
    LibraryRow stranger = rows[0];
    stranger.id = QUuid::createUuid();
    rows[0].bpm = QStringLiteral("99");
    announced.changed.clear();
    EXPECT_FALSE(model.update({rows[0], stranger}));
    EXPECT_TRUE(announced.changed.isEmpty());
    EXPECT_EQ(model.row(0).bpm, QString());
    EXPECT_EQ(announced.resets, 0);
}

// A reset that moves or drops rows leaves each id finding its own row: the next update of a
// track's row rewrites that row and no other.
TEST(LibraryTableModelUpdate, FindsTheRowOfItsIDAfterRowsAreReorderedOrRemoved)
{
    std::vector<LibraryRow> rows = takes(5);
    LibraryTableModel model;
    model.apply(rows, {}, 1);
    Announced announced(model);

    std::vector<LibraryRow> reordered{rows[4], rows[2], rows[0], rows[3], rows[1]};
    ASSERT_TRUE(model.apply(reordered, {}, 1));
    reordered[1].bpm = QStringLiteral("128"); // take 2, the third row before
    ASSERT_TRUE(model.update({reordered[1]}));
    EXPECT_EQ(model.rows(), reordered);
    EXPECT_EQ(announced.changed, Changes{bpmCellOf(1)});

    // Take 2 and take 1 go; take 3 is the third row, take 0 the second.
    std::vector<LibraryRow> remaining{reordered[0], reordered[2], reordered[3]};
    ASSERT_TRUE(model.apply(remaining, {}, 1));
    announced.changed.clear();
    remaining[2].name = QStringLiteral("take 3 renamed.wav");
    remaining[1].bpm = QStringLiteral("90");
    ASSERT_TRUE(model.update({remaining[2], remaining[1]}));
    EXPECT_EQ(model.rows(), remaining);
    EXPECT_EQ(announced.changed, (Changes{{2, 0, LibraryColumns::count - 1}, bpmCellOf(1)}));

    // A removed track's row is no longer in the table: the caller rebuilds instead.
    LibraryRow removed = reordered[1]; // take 2, the second row before
    removed.bpm = QStringLiteral("60");
    announced.changed.clear();
    EXPECT_FALSE(model.update({removed}));
    EXPECT_EQ(model.rows(), remaining);
    EXPECT_TRUE(announced.changed.isEmpty());
}
