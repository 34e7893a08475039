#include "views/library/audio_library_view.h"

#include "views/library/library_cells.h"
#include "views/library/library_header.h"
#include "views/library/library_table.h"
#include "views/library/library_table_model.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/main/content_view.h"
#include "views/main/fake_main_window_model.h"

#include "library_pane_fixture.h"

#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>

using namespace tampod;

namespace {

struct LibraryPane : test::LibraryPane {
    QRect cell(int row, int column) const { return table().visualRect(table().tableModel()->index(row, column)); }
    QWidget *viewport() const { return table().viewport(); }
    QSet<QUuid> selection() const { return model->librarySelection().ids(); }
};

} // namespace

TEST_F(LibraryPane, ExportClicksToggleWithoutSelecting)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav");
    model->append({a, b});
    settle();
    const QSet<QUuid> before = selection();

    test::click(viewport(), cell(1, LibraryColumns::exportCheck).center());
    settle();
    EXPECT_EQ(model->exportChecks().ids(), QSet<QUuid>{b.id});
    EXPECT_EQ(selection(), before);
    EXPECT_EQ(model->selectedID(), a.id);
    EXPECT_EQ(pane->summary()->text(), "1 checked for export");
    EXPECT_EQ(pane->exportButton()->text(), "Export Checked");
    EXPECT_TRUE(pane->exportButton()->isEnabled());
    test::click(viewport(), cell(1, LibraryColumns::exportCheck).center());
    settle();
    EXPECT_TRUE(model->exportChecks().ids().isEmpty());
}

TEST_F(LibraryPane, DoubleClicksPlayOnlyOutsideTheExportAndBPMColumns)
{
    const AudioTrack a = track("a.wav", 100), b = track("b.wav", 100);
    model->append({a, b});
    settle();
    for (int column : {LibraryColumns::exportCheck, LibraryColumns::bpm}) {
        test::doubleClick(viewport(), cell(1, column).center());
        settle();
        EXPECT_FALSE(model->isPlaying()) << column;
    }
    test::doubleClick(viewport(), cell(1, LibraryColumns::name).center());
    settle();
    EXPECT_TRUE(model->isPlaying());
    EXPECT_EQ(model->selectedID(), b.id);
}

TEST_F(LibraryPane, GetAndCancelCallBackOnce)
{
    model->append({track("a.wav")});
    settle();
    int gets = 0, cancels = 0;
    auto get = table().onGetBPM;
    auto cancel = table().onCancelBPM;
    table().onGetBPM = [&](const QUuid &id) { ++gets, get(id); };
    table().onCancelBPM = [&](const QUuid &id) { ++cancels, cancel(id); };

    const QRect bpm = cell(0, LibraryColumns::bpm);
    test::click(viewport(), LibraryCells::getRect(bpm).center());
    settle();
    EXPECT_EQ(gets, 1);
    EXPECT_EQ(model->bpmDetection().states().size(), 1);
    ASSERT_TRUE(table().tableModel()->row(0).bpmStatus);

    test::click(viewport(), LibraryCells::cancelRect(bpm).center());
    settle();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(gets, 1);
    EXPECT_TRUE(model->bpmDetection().states().isEmpty());
}

TEST_F(LibraryPane, ADoubleClickOnAnExportCheckTogglesItTwice)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav");
    model->append({a, b});
    settle();
    int changes = 0;
    QObject::connect(&model->exportChecks(), &ExportCheckSelection::idsChanged, [&] { ++changes; });
    // The second press comes after the table has shown the first toggle, as from a real mouse.
    const QPoint at = cell(1, LibraryColumns::exportCheck).center();
    test::click(viewport(), at);
    settle();
    test::sendMouse(viewport(), QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    test::sendMouse(viewport(), QEvent::MouseButtonRelease, at, Qt::NoButton);
    settle();
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(model->exportChecks().ids().isEmpty());
}

TEST_F(LibraryPane, TheCancelMarkOnAChannelRowCancelsThePairsDetection)
{
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    const AudioTrack pair = pairOf(left, right);
    model->append({pair});
    settle();
    test::click(viewport(), LibraryCells::getRect(cell(1, LibraryColumns::bpm)).center());
    settle();
    ASSERT_TRUE(model->bpmDetection().states().contains(pair.id));
    test::click(viewport(), LibraryCells::cancelRect(cell(1, LibraryColumns::bpm)).center());
    settle();
    EXPECT_TRUE(model->bpmDetection().states().isEmpty());
}

TEST_F(LibraryPane, LinkingTwoChannelFilesShowsItsLineUntilCancelled)
{
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    model->append({track("a.wav"), right, left});
    model->selectLibraryRows({right.id});
    settle();
    EXPECT_FALSE(pane->linkButton()->isVisibleTo(pane));
    model->selectLibraryRows({right.id, left.id});
    settle();
    ASSERT_TRUE(pane->linkButton()->isVisibleTo(pane));
    EXPECT_EQ(pane->linkButton()->text(), "Link L and R");
    EXPECT_FALSE(pane->linkingLine()->isVisibleTo(pane));

    pane->linkButton()->click();
    ASSERT_TRUE(model->pairing().isPreparing());
    settle();
    EXPECT_TRUE(pane->linkingLine()->isVisibleTo(pane));
    QPushButton *cancel = nullptr;
    for (QPushButton *button : pane->linkingLine()->findChildren<QPushButton *>())
        if (button->text() == "Cancel Linking")
            cancel = button;
    ASSERT_TRUE(cancel);
    cancel->click();
    EXPECT_FALSE(model->pairing().isPreparing());
    settle();
    EXPECT_FALSE(pane->linkingLine()->isVisibleTo(pane));

    // Left and right go in as such, whatever order the rows have: without files the linking
    // fails later, never at the names.
    ASSERT_TRUE(pane->linkButton()->isVisibleTo(pane));
    pane->linkButton()->click();
    ASSERT_TRUE(test::pumpUntil([&] { return !model->pairing().isPreparing(); }));
    EXPECT_FALSE(model->pairing().message().isEmpty());
    EXPECT_FALSE(model->pairing().message().startsWith("Choose matching .L and .R files"))
        << model->pairing().message().toStdString();
}

TEST_F(LibraryPane, EachChannelRowDrawsHalfTheLinkMarkOnTheEdgeItSharesWithItsPartner)
{
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    model->append({track("a.wav"), pairOf(left, right)}); // the first row takes the selection
    settle();
    const QImage shown = viewport()->grab().toImage();
    // Some of the accent green within four pixels of the edge, anywhere across the cell.
    const auto marked = [&](int row, bool nearBottom) {
        const QRect check = cell(row, LibraryColumns::exportCheck);
        for (int d = 0; d < 4; ++d) {
            const int y = nearBottom ? check.bottom() - d : check.top() + d;
            for (int x = check.left(); x <= check.right(); ++x) {
                const QColor c = shown.pixelColor(x, y);
                if (c.green() - c.blue() > 60 && c.green() > c.red())
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(marked(1, true)) << "L: its lower edge";
    EXPECT_FALSE(marked(1, false));
    EXPECT_TRUE(marked(2, false)) << "R: its upper edge";
    EXPECT_FALSE(marked(2, true));
}

TEST(LibraryCells, TipsOfTheCheckAndTheDetectionTexts)
{
    LibraryRow row;
    row.name = "a.wav";
    row.bpm = "—";
    const QRect check(0, 0, 44, 56), bpm(44, 0, 73, 56);
    EXPECT_EQ(LibraryCells::toolTip(row, LibraryColumns::exportCheck, check, check.center(), 1),
              "Include a.wav in Export Checked; audition selection stays unchanged");
    LibraryRow channel = row;
    channel.linkedChannel = "R";
    EXPECT_EQ(LibraryCells::toolTip(channel, LibraryColumns::exportCheck, check, check.center(), 1),
              "Check or uncheck both linked channels together");

    row.bpmStatus = BPMDetectionQueue::Status{QUuid::createUuid(), 0, true};
    EXPECT_EQ(LibraryCells::busyText(row), "Queued — 0%");
    row.bpmStatus = BPMDetectionQueue::Status{QUuid::createUuid(), 0.429, false};
    EXPECT_EQ(LibraryCells::busyText(row), "Detecting BPM — 42%");
    EXPECT_EQ(LibraryCells::toolTip(row, LibraryColumns::bpm, bpm, LibraryCells::progressRect(bpm).topLeft(), 1),
              "Detecting BPM — 42%");
    EXPECT_EQ(LibraryCells::toolTip(row, LibraryColumns::bpm, bpm, LibraryCells::cancelRect(bpm).center(), 1),
              "Cancel BPM detection");
}

TEST_F(LibraryPane, TipsOfTheBPMCell)
{
    AudioTrack waiting = test::channelRecord("/library/<i>old.sd2");
    waiting.sd2Format.reset();
    waiting.recovery = SD2Recovery{};
    model->append({waiting});
    settle();
    const QRect bpm = cell(0, LibraryColumns::bpm);
    ASSERT_FALSE(table().tableModel()->row(0).canDetectBPM);

    const QPoint onGet = LibraryCells::getRect(bpm).center();
    QHelpEvent help(QEvent::ToolTip, onGet, viewport()->mapToGlobal(onGet));
    QApplication::sendEvent(viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "BPM detection is available when audio preparation finishes");

    // A file name that looks like markup is shown as written.
    const QPoint onName = cell(0, LibraryColumns::name).center();
    QHelpEvent nameHelp(QEvent::ToolTip, onName, viewport()->mapToGlobal(onName));
    QApplication::sendEvent(viewport(), &nameHelp);
    EXPECT_TRUE(QToolTip::text().contains("&lt;i&gt;old.sd2")) << QToolTip::text().toStdString();
    QToolTip::hideText();

    // A disabled Get does nothing when clicked.
    test::click(viewport(), onGet);
    settle();
    EXPECT_TRUE(model->bpmDetection().states().isEmpty());
}

TEST_F(LibraryPane, ExportButtonAndSummary)
{
    const AudioTrack a = track("a.wav"), b = track("b.wav");
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    const AudioTrack pair = pairOf(left, right);
    model->append({a, b, pair});
    model->selectLibraryRows({a.id});
    settle();
    EXPECT_EQ(pane->summary()->text(), "0 checked for export");
    EXPECT_EQ(pane->exportButton()->text(), "Export Checked");
    EXPECT_FALSE(pane->exportButton()->isEnabled());
    EXPECT_EQ(pane->exportButton()->toolTip(), "Check files, select multiple files, or select a linked pair to export");

    model->selectLibraryRows({a.id, b.id});
    settle();
    EXPECT_EQ(pane->summary()->text(), "2 selected for export");
    EXPECT_EQ(pane->exportButton()->text(), "Export Selected");
    pane->exportButton()->click();
    EXPECT_EQ(exports, 1);

    // One channel row selects the pair: Unlink and Export Linked.
    test::click(viewport(), cell(3, LibraryColumns::name).center());
    settle();
    EXPECT_EQ(selection(), QSet<QUuid>{pair.id});
    EXPECT_EQ(table().selectionModel()->selectedRows().size(), 2) << "both channel rows";
    EXPECT_EQ(pane->exportButton()->text(), "Export Linked");
    EXPECT_TRUE(pane->unlinkButton()->isVisibleTo(pane));
    EXPECT_FALSE(pane->linkButton()->isVisibleTo(pane));
}

TEST_F(LibraryPane, EmptyLibraryAndLoading)
{
    EXPECT_TRUE(pane->dropHint()->isVisibleTo(pane));
    EXPECT_EQ(pane->dropHint()->text(), "Drop audio files or folders here");
    EXPECT_FALSE(table().isVisibleTo(pane));
    EXPECT_FALSE(pane->bottomBar()->isVisibleTo(pane));
    EXPECT_FALSE(pane->loadingLine()->isVisibleTo(pane));

    model->importFiles({QUrl::fromLocalFile("/library/new.wav")}, false);
    settle();
    EXPECT_TRUE(pane->loadingLine()->isVisibleTo(pane));
    EXPECT_TRUE(pane->loadingLine()->findChild<QLabel *>()->text() == "Loading audio…");
    importer->end(0, AudioImportResult{{track("new.wav")}, {}});
    ASSERT_TRUE(test::pumpUntil([&] { return model->imports().pendingCount() == 0; }));
    settle();
    EXPECT_FALSE(pane->loadingLine()->isVisibleTo(pane));
    EXPECT_TRUE(table().isVisibleTo(pane));
    EXPECT_FALSE(pane->dropHint()->isVisibleTo(pane));
    EXPECT_TRUE(pane->bottomBar()->isVisibleTo(pane));
}

TEST_F(LibraryPane, HeaderSeparatorsLineUpWithTheColumns)
{
    QList<AudioTrack> many;
    for (int i = 0; i < 60; ++i)
        many.append(track(QStringLiteral("take %1.wav").arg(i)));
    model->append(many);
    for (int width : {552, 607, 1104}) {
        content.resize(width, width * 648 / 607);
        settle();
        ASSERT_TRUE(table().verticalScrollBar()->isVisible()) << width;
        EXPECT_DOUBLE_EQ(table().scale(), width / 1104.0);
        const LibraryHeader &header = *pane->header();
        const QList<int> separators = header.separators();
        ASSERT_EQ(separators.size(), 5);
        int i = 0;
        for (int column = LibraryColumns::bpm; column < LibraryColumns::count; ++column) {
            if (column == LibraryColumns::repeat)
                continue;
            const int edge = viewport()->mapTo(header.parentWidget(), QPoint(cell(0, column).left(), 0)).x();
            EXPECT_EQ(header.mapTo(header.parentWidget(), QPoint(separators[i++], 0)).x(), edge)
                << width << " column " << column;
        }
        const QRect type = cell(0, LibraryColumns::type);
        EXPECT_EQ(type.right() + 1, viewport()->width()) << "the last column ends at the list's edge";
        EXPECT_EQ(cell(0, 0).height(), qRound(56 * width / 1104.0));
    }
}

// Writes the pane as the window shows it, for looking at: TAMPOD_SHOT=<file.png>.
TEST_F(LibraryPane, Shot)
{
    const QString out = qEnvironmentVariable("TAMPOD_SHOT");
    if (out.isEmpty())
        GTEST_SKIP();
    const AudioTrack left = test::channelRecord("/library/take.L"), right = test::channelRecord("/library/take.R");
    AudioTrack a = track("drums 120.wav", 120.5), b = track("bass.aiff"), c = track("pad.flac", 92);
    a.duration = 185.9;
    model->append({a, b, c, pairOf(left, right)});
    model->toggleRepeat();
    model->setExportChecked(c.id, true);
    model->getBPM(b.id);
    settle();
    content.resize(1104, 1178);
    settle();
    pane->grab().save(out);
}
