// Journeys past the bottom of a full library list: a status that appears under the list after
// it scrolled to the new row (a file handed over that needs SD2 recovery, a stereo pair made in
// the SD2 tools sheet) leaves that row whole in sight.
#include "journey.h"

#include "player/sd2_pair_coordinator.h"
#include "views/library/audio_library_view.h"
#include "views/sd2/sd2_recovery_status.h"
#include "views/sd2/sd2_view_texts.h"

#include <QScrollBar>

using namespace tampod;
using namespace tampod::test;

namespace {

// Whether the layout has given status its height below the list: the list ends above it.
bool laidOutBelow(const QWidget &list, const QWidget &status)
{
    if (!status.isVisible() || status.height() <= 0)
        return false;
    const QWidget *window = list.window();
    return list.mapTo(window, QPoint(0, list.height())).y() <= status.mapTo(window, QPoint(0, 0)).y();
}

} // namespace

class StatusPanelJourney : public Journey {
protected:
    // More rows than the list shows, so that a new last row is scrolled to.
    void fillTheList()
    {
        for (int i = 0; i < rowsBeyondSight; ++i)
            writeTone(music + QStringLiteral("/tone%1.wav").arg(i, 2, 10, QLatin1Char('0')), 0.2);
        open(music, rowsBeyondSight);
    }
    std::optional<int> rowNamed(const QString &name) const
    {
        const int index = int(rowNames().indexOf(name));
        return index < 0 ? std::nullopt : std::optional(index);
    }
    // The one row selected in the list.
    std::optional<int> selectedRow() const
    {
        const QModelIndexList selected = table().selectionModel()->selectedRows();
        return selected.size() == 1 ? std::optional(selected.first().row()) : std::nullopt;
    }
    // The row's place in the list and the list's viewport, for a failure's message.
    std::string sight(int row) const
    {
        QString text;
        QDebug(&text).nospace() << "row " << row << " at " << cell(row, LibraryColumns::name) << " in "
                                << table().viewport()->rect();
        return text.toStdString();
    }
    bool isWhole(int row) const
    {
        return table().viewport()->rect().contains(cell(row, LibraryColumns::name));
    }

    static constexpr int rowsBeyondSight = 14;
};

TEST_F(StatusPanelJourney, AFileHandedOverThatNeedsRecoveryStaysWholeAboveItsRecoveryStatus)
{
    fillTheList();
    ASSERT_GT(table().verticalScrollBar()->maximum(), 0) << "the list shows every row";

    // A data fork without its resource fork: whole 16-bit stereo frames, waiting for recovery.
    const QString take = root.file(QStringLiteral("take.sd2"));
    writeFile(take, QByteArray(44100 * 4, '\x10'));
    app->openDocuments({QUrl::fromLocalFile(take)});
    auto *status = window->findChild<SD2RecoveryStatus *>();
    ASSERT_NE(status, nullptr);
    std::optional<int> row;
    ASSERT_TRUE(pumpUntil([&] {
        row = selectedRow();
        return row && row == rowNamed(QStringLiteral("take.sd2")) && laidOutBelow(table(), *status->panel());
    })) << rowNames().join(u',').toStdString();
    EXPECT_TRUE(isWhole(*row)) << sight(*row);
}

TEST_F(StatusPanelJourney, ANewStereoPairStaysWholeAboveItsReadyMessage)
{
    fillTheList();
    const QString channels = root.file(QStringLiteral("channels"));
    QDir().mkpath(channels);
    writeSD2Channel(channels + "/Take.L", 44100);
    writeSD2Channel(channels + "/Take.R", 44100);
    open(channels, rowsBeyondSight + 2);
    const std::optional<int> left = rowNamed(QStringLiteral("Take.L"));
    ASSERT_TRUE(left);
    clickCell(*left, LibraryColumns::name);
    ASSERT_TRUE(pumpUntil([&] { return app->commands()->advancedSD2Action()->isEnabled(); }));
    app->commands()->advancedSD2Action()->trigger();
    SheetDialog *sheet = awaitSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), SD2ViewText::toolsTitle);

    // The left channel chosen; the only right one comes with it.
    QComboBox *leftPicker = nullptr;
    for (auto *picker : sheet->findChildren<TaggedComboBox *>()) {
        if (picker->accessibleName() == SD2ViewText::leftChannel)
            leftPicker = picker;
    }
    ASSERT_NE(leftPicker, nullptr);
    const int item = leftPicker->findText(QStringLiteral("Take.L"));
    ASSERT_GE(item, 0);
    ASSERT_TRUE(choose(leftPicker, leftPicker->itemData(item).toString()));
    ASSERT_TRUE(press(sheet, SD2ViewText::createStereoPair));

    QLabel *ready = window->findChild<AudioLibraryView *>()->linkingMessage();
    std::optional<int> pair;
    ASSERT_TRUE(pumpUntil([&] {
        const auto selected = player().selectedTrack();
        if (!selected || !selected->pair || ready->text() != QLatin1String(SD2PairCoordinator::readyMessage))
            return false;
        // A pair shows as its channels' rows: the first is the one kept in view.
        pair = rowNamed(QStringLiteral("Take.L"));
        return pair && laidOutBelow(table(), *ready);
    }, std::chrono::seconds(30))) << rowNames().join(u',').toStdString();
    EXPECT_TRUE(isWhole(*pair)) << sight(*pair);
}
