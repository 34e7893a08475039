#include "views/main/content_view.h"
#include "views/kit/controls/hardware_button.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/export/batch_export_view.h"
#include "views/export/audio_export_view.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/theme.h"
#include "views/main/transport_view.h"
#include "views/main/wordmark_view.h"

#include "views/main/fake_main_window_model.h"

#include "export/session/export_session.h"

#include "support/snapshot.h"
#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

struct Content : testing::Test {
    test::FakeMainWindowModel player;
    int settingsOpened = 0;
    ContentView content{player, [this] { ++settingsOpened; }};

    Content() { content.show(); }

    void update()
    {
        player.notify();
        QCoreApplication::sendPostedEvents();
    }
};

bool isBorder(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y).rgb() == Theme::border.rgb();
}

} // namespace

TEST_F(Content, TopBlockScalesAndLinesStayOnePixel)
{
    content.resize(1104, 1178);
    EXPECT_EQ(content.scale(), 1);
    EXPECT_EQ(content.transport()->geometry(), QRect(0, 323, 1104, 112));
    EXPECT_EQ(content.wordmark()->geometry(), QRect(335, 26, 435, 52));
    EXPECT_EQ(content.waveformPane()->geometry(), QRect(64, 103, 978, 220));
    EXPECT_EQ(content.loopButton()->geometry(), QRect(24, 436 + 80, 60, 44));

    // At half the width everything above and in the sidebar is half size.
    content.resize(552, 600);
    EXPECT_EQ(content.transport()->geometry(), QRect(0, 162, 552, 56));
    EXPECT_EQ(content.zoomSlider()->geometry(), QRect(7, 219 + 71, 39, 14));
    EXPECT_EQ(content.libraryRect(), QRect(55, 219, 497, 381));

    // The default window: s = 607 / 1104, neighbours meet without gaps, lines 1 point.
    content.resize(607, 648);
    const int line = content.topHeight();
    EXPECT_EQ(line, 239);
    EXPECT_EQ(content.transport()->geometry().bottom() + 1, line);
    const int side = content.sidebarWidth();
    for (double ratio : {1.0, 2.0}) {
        const QImage image = test::render(content, ratio, QStringLiteral("content-empty"));
        EXPECT_NE(image.pixelColor(content.wordmark()->geometry().center() * ratio), Theme::background);
        const int r = int(ratio);
        for (int i = 0; i < r; ++i) {
            EXPECT_TRUE(isBorder(image, 300 * r, line * r + i));
            EXPECT_TRUE(isBorder(image, side * r + i, 400 * r));
        }
        EXPECT_FALSE(isBorder(image, 300 * r, line * r - 1));
        EXPECT_FALSE(isBorder(image, 300 * r, (line + 1) * r));
        EXPECT_FALSE(isBorder(image, side * r - 1, 400 * r));
        EXPECT_FALSE(isBorder(image, (side + 1) * r, 400 * r));
    }
}

TEST_F(Content, SidebarRules)
{
    const auto value = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Value);
    };
    EXPECT_FALSE(content.clearButton()->isEnabled());
    EXPECT_FALSE(content.loopButton()->isEnabled());
    EXPECT_FALSE(content.zoomSlider()->isEnabled());
    EXPECT_EQ(value(content.loopButton()), QStringLiteral("Off"));
    const auto checked = [](QWidget *widget) { return QAccessible::queryAccessibleInterface(widget)->state().checked; };
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(content.loopButton())->state().checkable);
    EXPECT_FALSE(checked(content.loopButton()));
    player.pending = 1;
    player.playable = true;
    update();
    EXPECT_TRUE(content.clearButton()->isEnabled());
    EXPECT_TRUE(content.loopButton()->isEnabled());
    EXPECT_FALSE(content.zoomSlider()->isEnabled());

    // An existing loop can always be switched off, and only it enables the zoom.
    player.playable = false;
    player.loop = MainWindowModel::Span{0.25, 0.5};
    update();
    EXPECT_TRUE(content.loopButton()->isEnabled());
    EXPECT_TRUE(content.loopButton()->buttonStyle().active);
    EXPECT_EQ(value(content.loopButton()), QStringLiteral("On"));
    EXPECT_TRUE(checked(content.loopButton()));
    EXPECT_TRUE(content.zoomSlider()->isEnabled());
    EXPECT_TRUE(content.zoomSlider()->greenHandle());

    content.settingsButton()->click();
    content.loopButton()->click();
    EXPECT_TRUE(checked(content.loopButton())); // until the model says otherwise
    content.clearButton()->click();
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_EQ(player.takeCalls(), (QStringList{"toggleSectionLoop", "clearAll"}));

    EXPECT_EQ(content.settingsButton()->toolTip(), QStringLiteral("Export defaults"));
    EXPECT_EQ(content.settingsButton()->accessibleName(), QStringLiteral("Settings"));
    EXPECT_EQ(content.clearButton()->toolTip(), QStringLiteral("Clear All Files — remove from tamPOD; originals stay on disk"));
    EXPECT_EQ(content.zoomSlider()->accessibleName(), QStringLiteral("Loop waveform zoom"));
    EXPECT_TRUE(content.zoomSlider()->toolTip().startsWith(QStringLiteral("Zoom waveform: left shows the whole song")));

    // The SD2 rate buttons show only while the selected track has a recovery state.
    auto *buttons = new QWidget;
    content.setSD2RateButtons(buttons);
    EXPECT_FALSE(buttons->isVisibleTo(&content));
    player.recovery = true;
    update();
    EXPECT_TRUE(buttons->isVisibleTo(&content));
}

TEST_F(Content, ZoomFocusesTheLoopOrTheWholeRecording)
{
    content.resize(1104, 1178);
    HardwareSlider *zoom = content.zoomSlider();
    const auto press = [&](double x) {
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(x, 14), QPointF(x, 14), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(zoom, &event);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(x, 14), QPointF(x, 14), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(zoom, &release);
    };
    press(39);
    EXPECT_TRUE(player.takeCalls().isEmpty()); // disabled without a loop
    player.loop = MainWindowModel::Span{0.25, 0.5};
    update();
    press(39);
    EXPECT_EQ(player.takeCalls(), QStringList{"setZoomAmount 0.5 0.25…0.5"});
}

TEST_F(Content, DropsQueueFilesWithoutSelecting)
{
    const auto drop = [&](const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&content, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        event.setAccepted(false);
        QApplication::sendEvent(&content, &event);
        return enter.isAccepted() && event.isAccepted();
    };
    EXPECT_FALSE(drop({}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a.wav"))}));
    EXPECT_TRUE(player.takeCalls().isEmpty());
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QStringLiteral("/music/a.wav")), QUrl::fromLocalFile(QStringLiteral("/music"))}));
    EXPECT_EQ(player.takeCalls(), QStringList{"importFiles 2.0"});
}

TEST_F(Content, ExportOpensItsSheetOnlyWithSomethingToExport)
{
    content.transport()->exportButton()->click(); // disabled: nothing happens
    EXPECT_FALSE(content.presentExport());
    player.exportReady = true;
    update();
    EXPECT_TRUE(player.takeCalls().isEmpty());
    content.transport()->exportButton()->click();
    QPointer<SheetDialog> sheet = content.exportSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Export Audio"));
    EXPECT_EQ(SheetHost::of(&content).current(), sheet);
    // The sheet holds its export session as long as it lives.
    EXPECT_EQ(player.takeCalls(), QStringList{"openPrimaryExportSession"});
    auto *exportSheet = qobject_cast<AudioExportView *>(sheet.data());
    ASSERT_NE(exportSheet, nullptr);
    QPointer<ExportSession> session = &exportSheet->session();
    EXPECT_FALSE(content.presentBatch()); // one sheet at a time
    sheet->dismiss();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull());
    EXPECT_TRUE(session.isNull());
    content.exportLibrary();
    auto *batch = qobject_cast<BatchExportView *>(content.batchSheet());
    ASSERT_NE(batch, nullptr);
    EXPECT_EQ(player.takeCalls(), QStringList{"libraryExportSession"});
    EXPECT_EQ(batch->windowTitle(), QStringLiteral("Export 1 File"));
    batch->dismiss();
}
