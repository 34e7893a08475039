#include "views/kit/controls/hardware_button.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/theme.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/seven_segment_display.h"
#include "views/main/stereo_meter_view.h"
#include "views/main/transport_view.h"

#include "views/main/fake_main_window_model.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

using namespace tampod;
using Symbol = TransportGlyph::Symbol;

namespace {

constexpr Symbol symbols[] = {Symbol::start, Symbol::rewind, Symbol::stop, Symbol::play,
                              Symbol::repeatAudio, Symbol::forward, Symbol::end};

QString value(QWidget *widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Value);
}

struct Transport : testing::Test {
    test::FakeMainWindowModel player;
    int exports = 0;
    TransportView view{player, [this] { ++exports; }};

    void update()
    {
        player.notify();
        QCoreApplication::sendPostedEvents();
    }
};

} // namespace

TEST_F(Transport, NothingToPlay)
{
    for (Symbol symbol : symbols) {
        EXPECT_FALSE(view.button(symbol)->isEnabled());
        EXPECT_EQ(value(view.button(symbol)), QStringLiteral("Off"));
    }
    EXPECT_FALSE(view.positionSlider()->isEnabled());
    EXPECT_TRUE(view.volumeSlider()->isEnabled());
    EXPECT_DOUBLE_EQ(view.volumeSlider()->value(), 0.7);
    EXPECT_EQ(view.timeDisplay()->color(), QColor::fromRgbF(1.0f, 0.06f, 0.08f));
    EXPECT_FALSE(view.exportButton()->isEnabled());
    EXPECT_EQ(value(view.exportButton()), QStringLiteral("Not ready"));
    EXPECT_EQ(view.exportButton()->toolTip(), QStringLiteral("Choose a ready audio file to export"));
    EXPECT_EQ(view.exportButton()->accessibleName(), QStringLiteral("EXPORT"));
    EXPECT_EQ(view.exportButton()->text(), QStringLiteral("EXPORT"));
    EXPECT_TRUE(view.exportButton()->buttonStyle().face);

    const char *helps[] = {"Return to playback start", "Rewind five seconds", "Stop — retain position", "Play",
                           "Repeat entire file", "Fast forward five seconds", "Jump to playback end"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(view.button(symbols[i])->toolTip(), QString::fromUtf8(helps[i]));
        EXPECT_EQ(view.button(symbols[i])->accessibleName(), QString::fromUtf8(helps[i]));
    }
    EXPECT_EQ(view.positionSlider()->accessibleName(), QStringLiteral("Playback position"));
    EXPECT_EQ(view.volumeSlider()->accessibleName(), QStringLiteral("Playback volume"));
    EXPECT_EQ(view.volumeSlider()->handle(), HardwareSlider::Handle::bar);
}

TEST_F(Transport, PlayingRepeatingAndExportReady)
{
    player.playable = player.playing = player.repeating = true;
    player.exportReady = player.exportHighlighted = true;
    player.exportHelp = QStringLiteral("Export <take>.wav — whole file");
    update();
    for (Symbol symbol : symbols) {
        const bool lit = symbol == Symbol::play || symbol == Symbol::repeatAudio;
        EXPECT_TRUE(view.button(symbol)->isEnabled());
        EXPECT_EQ(view.button(symbol)->buttonStyle().active, lit);
        EXPECT_EQ(value(view.button(symbol)), lit ? QStringLiteral("On") : QStringLiteral("Off"));
    }
    EXPECT_TRUE(view.positionSlider()->isEnabled());
    EXPECT_EQ(view.timeDisplay()->color(), Theme::accent);
    EXPECT_TRUE(view.exportButton()->isEnabled());
    EXPECT_TRUE(view.exportButton()->buttonStyle().blueReady);
    EXPECT_EQ(value(view.exportButton()), QStringLiteral("Ready to export"));
    EXPECT_EQ(view.exportButton()->toolTip(), plainToolTip(player.exportHelp));
    view.exportButton()->click();
    EXPECT_EQ(exports, 1);

    // Position and levels come with their own signal.
    player.time = QStringLiteral("100:00:00");
    player.levelValues = {0.25, 1};
    player.progressValue = 0.5;
    player.notifyPlayback();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(view.timeDisplay()->text(), QStringLiteral("100:00:00"));
    EXPECT_EQ(view.meter()->levels(), (QList<double>{0.25, 1}));
    EXPECT_EQ(view.positionSlider()->value(), 0.5);
}

TEST_F(Transport, EachPressMakesOneCall)
{
    player.playable = true;
    player.positionValue = 3;
    player.start = 1.5;
    player.end = 42;
    update();
    for (Symbol symbol : symbols)
        view.button(symbol)->click();
    EXPECT_EQ(player.takeCalls(), (QStringList{"seek 1.5", "seek -2.0", "pause", "play", "toggleRepeat",
                                               "seek 8.0", "seek 42.0"}));

    // The position slider seeks within the current track; without one it does nothing.
    HardwareSlider *slider = view.positionSlider();
    slider->resize(434, 28);
    const auto click = [&](double x) {
        const QPointF at(x, 14);
        QMouseEvent press(QEvent::MouseButtonPress, at, slider->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(slider, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, slider->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(slider, &release);
    };
    click(217);
    player.duration = 10;
    click(217);
    EXPECT_EQ(player.takeCalls(), QStringList{"seek 5.0"});

    view.volumeSlider()->resize(222, 28);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(8, 14), QPointF(8, 14), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view.volumeSlider(), &press);
    EXPECT_EQ(player.takeCalls(), QStringList{"setVolume 0.0"});
}

TEST_F(Transport, AccessibleTogglesSliderAndExport)
{
    const auto accessible = [](QWidget *widget) { return QAccessible::queryAccessibleInterface(widget); };
    const auto press = [&](QWidget *widget) {
        accessible(widget)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    };

    // Play and Repeat are checkable, checked exactly while lit; a press only asks the model.
    player.playable = true;
    update();
    const struct {
        Symbol symbol;
        bool test::FakeMainWindowModel::*state;
        const char *call;
    } toggles[] = {{Symbol::play, &test::FakeMainWindowModel::playing, "play"},
                  {Symbol::repeatAudio, &test::FakeMainWindowModel::repeating, "toggleRepeat"}};
    for (const auto &t : toggles) {
        QAccessibleInterface *toggle = accessible(view.button(t.symbol));
        EXPECT_TRUE(toggle->state().checkable);
        press(view.button(t.symbol));
        EXPECT_EQ(player.takeCalls(), QStringList{QString::fromLatin1(t.call)});
        EXPECT_FALSE(toggle->state().checked);
        EXPECT_EQ(toggle->text(QAccessible::Value), QStringLiteral("Off"));
        player.*t.state = true;
        update();
        EXPECT_TRUE(toggle->state().checked);
        EXPECT_EQ(toggle->text(QAccessible::Value), QStringLiteral("On"));
        player.*t.state = false;
        update();
        EXPECT_FALSE(toggle->state().checked);
        EXPECT_EQ(toggle->text(QAccessible::Value), QStringLiteral("Off"));
    }
    EXPECT_FALSE(accessible(view.button(Symbol::stop))->state().checkable);

    // The volume slider: a value interface over 0…1, and arrow and Page keys through the binding.
    HardwareSlider *volume = view.volumeSlider();
    QAccessibleInterface *slider = accessible(volume);
    EXPECT_EQ(slider->role(), QAccessible::Slider);
    EXPECT_TRUE(slider->state().focusable);
    QAccessibleValueInterface *range = slider->valueInterface();
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->minimumValue().toDouble(), 0);
    EXPECT_EQ(range->maximumValue().toDouble(), 1);
    EXPECT_DOUBLE_EQ(range->currentValue().toDouble(), 0.7);
    EXPECT_EQ(slider->text(QAccessible::Value), QStringLiteral("70%"));
    const auto key = [&](int code) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
        QApplication::sendEvent(volume, &event);
    };
    key(Qt::Key_Right);
    key(Qt::Key_PageDown);
    key(Qt::Key_End);
    key(Qt::Key_Right);
    EXPECT_EQ(player.takeCalls(), (QStringList{"setVolume 0.71", "setVolume 0.61", "setVolume 1.0"}));
    range->setCurrentValue(0.25);
    EXPECT_EQ(player.takeCalls(), QStringList{"setVolume 0.25"});
    slider->actionInterface()->doAction(QAccessibleActionInterface::decreaseAction());
    EXPECT_EQ(player.takeCalls(), QStringList{"setVolume 0.24"});

    // EXPORT's value, also as its text for readers on the accessibility bus, in both states.
    QAccessibleInterface *exportButton = accessible(view.exportButton());
    for (const bool ready : {true, false}) {
        player.exportReady = ready;
        update();
        const QString expected = ready ? QStringLiteral("Ready to export") : QStringLiteral("Not ready");
        EXPECT_EQ(exportButton->text(QAccessible::Value), expected);
        ASSERT_NE(exportButton->textInterface(), nullptr);
        EXPECT_EQ(exportButton->textInterface()->text(0, exportButton->textInterface()->characterCount()), expected);
    }
    player.time = QStringLiteral("00:01:05");
    player.notifyPlayback();
    QCoreApplication::sendPostedEvents();
    QAccessibleTextInterface *time = accessible(view.timeDisplay())->textInterface();
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->text(0, time->characterCount()), QStringLiteral("00:01:05"));
}

// The position slider is heard as the time shown; a key steps from the position shown, however
// often playback moved it since.
TEST_F(Transport, ThePositionIsHeardAsItsTimeAndStepsFromWhereItIs)
{
    player.playable = true;
    player.duration = 100;
    update();
    for (int i = 1; i <= 20; ++i) {
        player.progressValue = 0.05 + i * 0.0005;
        player.time = i < 10 ? QStringLiteral("00:00:05") : QStringLiteral("00:00:06");
        player.notifyPlayback();
        QCoreApplication::sendPostedEvents();
    }
    EXPECT_EQ(value(view.positionSlider()), QStringLiteral("00:00:06"));
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(view.positionSlider(), &right);
    const QStringList calls = player.takeCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_NEAR(calls.first().section(u' ', 1).toDouble(), 7.0, 1e-9) << calls.first().toStdString();
}
