#include "views/kit/binding.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/controls/stepper.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "views/kit/design_scale.h"
#include "views/kit/design_scale_layout.h"
#include "views/kit/frame_placement.h"
#include "views/kit/internal/server_frame.h"
#include "views/kit/dialogs/sheet_dialog.h"
#include "views/kit/dialogs/sheet_host.h"
#include "views/kit/refresh_scheduler.h"
#include "views/kit/screen_fit.h"

#include "support/test_support.h"
#include "support/user_wheel.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <vector>

using namespace tampod;

namespace {

// On an X server with no window manager, the test speaks as one: it names itself on the root
// window, then announces frames, moves and reparents windows as a window manager would.
class FakeWindowManager {
public:
    FakeWindowManager()
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        c_ = x11 ? x11->connection() : nullptr;
        if (!c_)
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        check_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, check_, root_, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        for (const xcb_window_t on : {check_, root_})
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, on, atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 32, 1,
                                &check_);
        xcb_flush(c_);
    }
    ~FakeWindowManager()
    {
        if (!c_)
            return;
        xcb_delete_property(c_, root_, atom("_NET_SUPPORTING_WM_CHECK"));
        xcb_destroy_window(c_, check_);
        xcb_flush(c_);
    }
    void announce(const QWidget *window, QMargins frame)
    {
        const uint32_t extents[] = {uint32_t(frame.left()), uint32_t(frame.right()), uint32_t(frame.top()),
                                    uint32_t(frame.bottom())};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), atom("_NET_FRAME_EXTENTS"),
                            XCB_ATOM_CARDINAL, 32, 4, extents);
        xcb_flush(c_);
    }
    void move(const QWidget *window, QPoint client)
    {
        const uint32_t at[] = {uint32_t(client.x()), uint32_t(client.y())};
        xcb_configure_window(c_, xcb_window_t(window->winId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, at);
        xcb_flush(c_);
    }
    // Into a frame window of frame's geometry, the client at inside in it; the frame is shown
    // where mapped, else left for show(). Returns the frame window.
    xcb_window_t reparent(const QWidget *window, QRect frame, QPoint inside, bool mapped = true)
    {
        const xcb_window_t id = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, id, root_, int16_t(frame.x()), int16_t(frame.y()),
                          uint16_t(frame.width()), uint16_t(frame.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        if (mapped)
            xcb_map_window(c_, id);
        xcb_reparent_window(c_, xcb_window_t(window->winId()), id, int16_t(inside.x()), int16_t(inside.y()));
        xcb_flush(c_);
        return id;
    }
    void show(xcb_window_t frame)
    {
        xcb_map_window(c_, frame);
        xcb_flush(c_);
    }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }
    xcb_connection_t *c_ = nullptr;
    xcb_window_t root_ = 0, check_ = 0;
};

// The window's map state as the X server has it now (XCB_MAP_STATE_*).
int mapState(const QWidget *window)
{
    xcb_connection_t *c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xcb_window_t(window->winId())), nullptr);
    const int state = reply ? reply->map_state : -1;
    std::free(reply);
    return state;
}

// Whether the window is framed as the server has it now, not as it was last asked.
bool framedNow(const QWidget *window)
{
    ServerFrame::forget();
    return ScreenFit::isFramed(window);
}

} // namespace

TEST(RefreshScheduler, CoalescesABurstIntoOneRefresh)
{
    int refreshes = 0;
    RefreshScheduler scheduler([&] { ++refreshes; });
    ObservableFlag a, b;
    scheduler.watch(&a, &ObservableFlag::valueChanged);
    scheduler.watch(&b, &ObservableFlag::valueChanged);
    a.setValue(true);
    b.setValue(true);
    a.setValue(false);
    a.setValue(false); // no change, no signal
    EXPECT_EQ(refreshes, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(refreshes, 1);
    scheduler.schedule();
    scheduler.refreshNow(); // the queued one is then dropped
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(refreshes, 2);
}

TEST(PickersAndSteppers, ReportOnlyTheUsersChoiceAndNeverWriteBack)
{
    TaggedComboBox box;
    QStringList chosen;
    QObject::connect(&box, &TaggedComboBox::tagChosen, [&](const QString &tag) { chosen.append(tag); });
    box.setCurrentTag(QStringLiteral("aiff"));
    box.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}, {QStringLiteral("aiff"), QStringLiteral("AIFF")}});
    EXPECT_EQ(box.currentIndex(), 1);
    // A stored tag that is not offered shows nothing and is kept, never replaced.
    box.setCurrentTag(QStringLiteral("sd2"));
    box.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}});
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.currentTag(), QStringLiteral("sd2"));
    EXPECT_TRUE(chosen.isEmpty());
    Q_EMIT box.activated(0);
    EXPECT_EQ(chosen, QStringList{QStringLiteral("wav")});

    Stepper stepper;
    stepper.setRange(1, 999);
    QList<int> stepped;
    QObject::connect(&stepper, &Stepper::valueChosen, [&](int value) { stepped.append(value); });
    stepper.setStoredValue(5000); // shown clamped, not written back
    stepper.setStoredValue(0);
    EXPECT_TRUE(stepped.isEmpty());
    stepper.stepUp();
    EXPECT_EQ(stepped, QList<int>{2});
}

TEST(PickersAndSteppers, APickerIsNamedByItsLabelWithItsChoiceAsItsValue)
{
    TaggedComboBox box;
    box.setAccessibleName(QStringLiteral("Format"));
    box.setItems({{QStringLiteral("wav"), QStringLiteral("WAV")}, {QStringLiteral("aiff"), QStringLiteral("AIFF")}});
    box.setCurrentTag(QStringLiteral("aiff"));
    QAccessibleInterface *picker = QAccessible::queryAccessibleInterface(&box);
    EXPECT_EQ(picker->role(), QAccessible::ComboBox);
    EXPECT_EQ(picker->text(QAccessible::Name), QStringLiteral("Format"));
    EXPECT_EQ(picker->text(QAccessible::Value), QStringLiteral("AIFF"));
    ASSERT_EQ(picker->childCount(), 1);
    EXPECT_EQ(picker->child(0)->object(), static_cast<QObject *>(box.view()));
    ASSERT_NE(picker->actionInterface(), nullptr);
    EXPECT_TRUE(picker->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    // The choice is its text too, and the list of choices selects it, however it came to be shown.
    QAccessibleTextInterface *text = picker->textInterface();
    ASSERT_NE(text, nullptr);
    const auto shown = [&] { return text->text(0, text->characterCount()); };
    const auto selectedRow = [&] {
        const QModelIndexList rows = box.view()->selectionModel()->selectedIndexes();
        return rows.size() == 1 ? rows.first().row() : -1;
    };
    EXPECT_EQ(shown(), QStringLiteral("AIFF"));
    EXPECT_EQ(selectedRow(), 1);
    box.setItems({{QStringLiteral("aiff"), QStringLiteral("AIFF")}, {QStringLiteral("wav"), QStringLiteral("WAV")}});
    EXPECT_EQ(selectedRow(), 0);
    box.setCurrentIndex(1); // the user's choice
    EXPECT_EQ(shown(), QStringLiteral("WAV"));
    EXPECT_EQ(selectedRow(), 1);
    box.setCurrentTag(QStringLiteral("sd2")); // not offered: nothing shown, nothing selected
    EXPECT_EQ(shown(), QString());
    EXPECT_EQ(selectedRow(), -1);
    EXPECT_TRUE(box.view()->selectionModel()->selectedIndexes().isEmpty());
}

TEST(PickersAndSteppers, TheWheelScrollsTheFormUnlessTheControlHasTheKeyboardFocus)
{
    // The controls mid-way down a tall form, in a short scroll area, the keyboard focus in a
    // field above them.
    QScrollArea area;
    auto *form = new QWidget;
    auto *layout = new QVBoxLayout(form);
    auto *field = new QLineEdit(form);
    layout->addWidget(field);
    layout->addSpacing(300);
    auto *box = new TaggedComboBox(form);
    box->setItems({{QStringLiteral("wav"), QStringLiteral("WAV")},
                   {QStringLiteral("aiff"), QStringLiteral("AIFF")},
                   {QStringLiteral("flac"), QStringLiteral("FLAC")}});
    box->setCurrentTag(QStringLiteral("aiff"));
    auto *stepper = new Stepper(form);
    stepper->setRange(1, 99);
    stepper->setStoredValue(5);
    auto *slider = new HardwareSlider(QSizeF(216, 28), HardwareSlider::Handle::triangle, QStringLiteral("Level"), form);
    for (QWidget *control : {static_cast<QWidget *>(box), static_cast<QWidget *>(stepper), static_cast<QWidget *>(slider)})
        layout->addWidget(control);
    layout->addSpacing(2000);
    area.setWidget(form);
    area.resize(300, 200);
    area.show();
    QApplication::setActiveWindow(&area);
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::activeWindow() == &area; }));
    field->setFocus();
    QScrollBar *scroll = area.verticalScrollBar();
    std::vector<int> chosen;
    QObject::connect(box, &TaggedComboBox::currentIndexChanged, [&](int index) { chosen.push_back(index); });
    QObject::connect(stepper, &Stepper::valueChosen, [&](int value) { chosen.push_back(value); });
    // Whether a notch up over control scrolled the form.
    const auto scrolls = [&](QWidget *control) {
        area.ensureWidgetVisible(control);
        const int before = scroll->value();
        const QWidget *under = test::turnWheel(control, 1);
        EXPECT_TRUE(under == control || control->isAncestorOf(under));
        return scroll->value() < before;
    };

    EXPECT_TRUE(scrolls(box));
    EXPECT_TRUE(scrolls(stepper));
    EXPECT_TRUE(scrolls(slider));
    EXPECT_TRUE(chosen.empty());
    EXPECT_EQ(box->currentIndex(), 1);
    EXPECT_EQ(stepper->value(), 5);
    EXPECT_EQ(QApplication::focusWidget(), field); // the wheel moves no focus

    // Focus the window hands out as it opens or comes to the front is not the user's choice.
    for (const Qt::FocusReason reason : {Qt::OtherFocusReason, Qt::ActiveWindowFocusReason}) {
        box->setFocus(reason);
        EXPECT_TRUE(scrolls(box)) << reason;
        stepper->setFocus(reason);
        EXPECT_TRUE(scrolls(stepper)) << reason;
    }
    EXPECT_TRUE(chosen.empty());
    // Chosen by Tab, they take the wheel as Qt's own do, and keep it through a trip of their
    // window to the back; the slider still passes it on.
    box->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(scrolls(box));
    EXPECT_EQ(box->currentIndex(), 0);
    stepper->setFocus(Qt::BacktabFocusReason);
    field->setFocus(Qt::ActiveWindowFocusReason);
    stepper->setFocus(Qt::ActiveWindowFocusReason);
    EXPECT_FALSE(scrolls(stepper));
    EXPECT_EQ(stepper->value(), 6);
    // Left, then focused again by the program: the form's once more, until opened or clicked.
    field->setFocus(Qt::TabFocusReason);
    box->setFocus();
    stepper->setFocus();
    EXPECT_TRUE(scrolls(stepper));
    box->setFocus();
    EXPECT_TRUE(scrolls(box));
    box->showPopup();
    box->hidePopup();
    EXPECT_FALSE(scrolls(box));
    stepper->setFocus();
    QWidget *text = stepper->findChild<QLineEdit *>();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(2, 2), text->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(text, &event);
    }
    EXPECT_FALSE(scrolls(stepper));
    EXPECT_EQ(stepper->value(), 7);
    slider->setFocus();
    EXPECT_TRUE(scrolls(slider));
    EXPECT_EQ(slider->value(), 0);

    // With its window in the back, a picker chosen by Tab passes the wheel on; back in front,
    // it has it again.
    QWidget other;
    other.show();
    const auto activate = [](QWidget *window) {
        QApplication::setActiveWindow(window);
        return test::pumpUntil([&] { return QApplication::activeWindow() == window; });
    };
    box->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(activate(&other));
    EXPECT_TRUE(scrolls(box));
    ASSERT_TRUE(activate(&area));
    ASSERT_TRUE(box->hasFocus());
    EXPECT_FALSE(scrolls(box));
    EXPECT_EQ(box->currentIndex(), 0);
    // A focus event by Tab that comes without the focus, as a dialog sends its remembered
    // focus widget while it shows, engages nothing, not even once its window is activated.
    field->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(activate(&other));
    box->setFocus(Qt::OtherFocusReason);
    QFocusEvent tabbed(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(box, &tabbed);
    ASSERT_TRUE(activate(&area));
    ASSERT_TRUE(box->hasFocus());
    EXPECT_TRUE(scrolls(box));
    EXPECT_EQ(box->currentIndex(), 0);
}

TEST(SheetDialog, EveryWayOutRunsTheCloseActionOnceAndBusySheetsStay)
{
    QWidget window;
    window.show();
    enum class Way { escape, closeButton, dismiss };
    for (Way way : {Way::escape, Way::closeButton, Way::dismiss}) {
        int closes = 0;
        bool busy = true;
        SheetDialog sheet(&window);
        sheet.setOnClose([&] { ++closes; });
        sheet.setRefusesClose([&] { return busy; });
        ASSERT_TRUE(sheet.present());
        EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
        SheetDialog other(&window); // one sheet at a time on a window
        EXPECT_FALSE(other.present());
        QWidget otherWindow; // another window's sheet may be up meanwhile
        otherWindow.show();
        SheetDialog figure(&otherWindow);
        EXPECT_TRUE(figure.present());
        EXPECT_EQ(SheetHost::of(&otherWindow).current(), &figure);
        EXPECT_EQ(SheetHost::of(&window).current(), &sheet);
        figure.dismiss();
        const auto leave = [&] {
            switch (way) {
            case Way::escape: {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(&sheet, &escape);
                break;
            }
            case Way::closeButton:
                sheet.close();
                break;
            case Way::dismiss:
                sheet.dismiss();
                break;
            }
        };
        leave();
        EXPECT_TRUE(sheet.isVisible());
        busy = false;
        leave();
        leave(); // a second way out does nothing more
        EXPECT_EQ(closes, 1) << int(way);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_EQ(SheetHost::of(&window).current(), nullptr);
    }
}

TEST(SheetDialog, OpensCentredOnItsWindowAndWhollyOnTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget window;
    window.resize(300, 200);
    window.move(area.center() - QPoint(150, 100));
    window.show();
    SheetDialog sheet(&window);
    sheet.resize(200, 120);
    ASSERT_TRUE(sheet.present());
    EXPECT_EQ(sheet.frameGeometry().center(), window.frameGeometry().center());
    sheet.dismiss();

    // A sheet taller and wider than its window at the screen's corner.
    window.move(area.topLeft());
    SheetDialog tall(&window);
    tall.resize(500, 400);
    ASSERT_TRUE(tall.present());
    EXPECT_TRUE(area.contains(tall.frameGeometry())) << tall.frameGeometry().y();
    EXPECT_EQ(tall.frameGeometry().topLeft(), area.topLeft());
    tall.dismiss();

    // Taller than the screen: at the screen's height, its form scrolling, its button in sight.
    SheetDialog higher(&window);
    higher.setFixedSize(500, area.height() + 90);
    auto *layout = new QVBoxLayout(&higher);
    auto *form = new QWidget;
    form->setMinimumHeight(2000);
    auto *scroll = new QScrollArea(&higher);
    scroll->setWidget(form);
    layout->addWidget(scroll, 1);
    auto *button = new QPushButton(QStringLiteral("Cancel"), &higher);
    layout->addWidget(button);
    ASSERT_TRUE(higher.present());
    EXPECT_EQ(ScreenFit::frameGeometry(&higher).height(), area.height());
    EXPECT_TRUE(area.contains(higher.frameGeometry())) << higher.frameGeometry().y();
    EXPECT_TRUE(higher.rect().contains(QRect(button->mapTo(&higher, QPoint()), button->size())));
    higher.dismiss();
}

// Run with a shorter screen beside the first (views_tests_beside_a_shorter_screen): a window the
// user dragged there is on it before Qt has said so, and its sheet fits the screen it sees.
TEST(SheetDialog, FitsTheScreenUnderItsWindowNotTheOneQtLastRecorded)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        GTEST_SKIP() << "needs a second screen";
    QScreen *shorter = screens.first()->size().height() < screens.last()->size().height() ? screens.first() : screens.last();
    QScreen *taller = shorter == screens.first() ? screens.last() : screens.first();
    const QRect area = shorter->availableGeometry();
    ASSERT_LT(area.height(), taller->availableGeometry().height() - 100);
    QWidget window;
    window.resize(300, 200);
    window.move(taller->availableGeometry().topLeft() + QPoint(20, 20));
    window.show();
    window.windowHandle()->setFramePosition(area.topLeft() + QPoint(20, 20));
    ASSERT_TRUE(test::pumpUntil([&] { return area.contains(window.geometry()); }));
    ASSERT_EQ(window.screen(), taller) << "Qt already knows: nothing left to tell apart";
    SheetDialog sheet(&window);
    sheet.setFixedSize(300, area.height() + 50);
    ASSERT_TRUE(sheet.present());
    EXPECT_TRUE(area.contains(ScreenFit::frameGeometry(&sheet))) << ScreenFit::frameGeometry(&sheet).height();
    sheet.dismiss();
}

TEST(ScreenFit, RoomScaleAndPlacement)
{
    const QRect area(0, 30, 1024, 570);
    EXPECT_EQ(ScreenFit::room(area, QMargins(1, 20, 1, 5)), 545);
    EXPECT_EQ(ScreenFit::room(area, QMargins()), 570);

    const struct {
        int full, fixed, room;
        double scale;
    } scales[] = {
        {648, 25, 700, 1},           // room to spare
        {648, 25, 673, 1},           // just fits
        {648, 22, 578, 556.0 / 648}, // the content takes what the rest leaves
        {0, 25, 10, 1},              // nothing to scale
        {648, 25, 60, 0.1},          // never below a tenth
    };
    for (const auto &c : scales)
        EXPECT_DOUBLE_EQ(ScreenFit::scale(c.full, c.fixed, c.room), c.scale)
            << c.full << " " << c.fixed << " " << c.room;

    const struct {
        const char *name;
        QRect frame;
        QPoint placed;
    } places[] = {
        {"inside stays", {100, 100, 300, 200}, {100, 100}},
        {"above the area: its top edge on it", {100, -400, 300, 200}, {100, 30}},
        {"below: pulled up", {100, 500, 300, 200}, {100, 400}},
        {"right: pulled left", {900, 100, 300, 200}, {724, 100}},
        {"left: pulled right", {-900, 100, 300, 200}, {0, 100}},
        {"taller than the area: title bar on it", {100, 200, 300, 700}, {100, 30}},
        {"wider than the area: left edge on it", {-50, 100, 1100, 200}, {0, 100}},
    };
    for (const auto &c : places)
        EXPECT_EQ(ScreenFit::placed(c.frame, area), QRect(c.placed, c.frame.size())) << c.name;
}

// Run on an X server with no window manager (views_tests_on_an_x_server), the test its stand-in.
TEST(ScreenFit, OnAnXServerAFrameCaughtMidReparentIsNoFrameYet)
{
    using namespace std::chrono_literals;
    if (!FramePlacement::framesWindows())
        GTEST_SKIP() << "needs an X server";
    FakeWindowManager wm;
    QWidget window;
    window.setGeometry(100, 100, 200, 100);
    new FramePlacement(&window, [] {}); // listens for the frame's events
    window.show();
    ASSERT_TRUE(test::pumpUntil([&] { return window.windowHandle()->isExposed(); }, 5s));
    ASSERT_FALSE(ScreenFit::isFramed(&window));
    // The frame window not yet sized around the client.
    wm.reparent(&window, QRect(100, 100, 10, 10), QPoint());
    ASSERT_TRUE(test::pumpUntil([&] { return ScreenFit::isFramed(&window); }, 5s));
    EXPECT_EQ(ScreenFit::frameMargins(&window), QMargins());
    EXPECT_EQ(ScreenFit::frameGeometry(&window), window.geometry());
}

// Run on an X server with no window manager (views_tests_on_an_x_server), the test its stand-in
// for part of it. A window is framed only where the server shows it: never unmapped, nor mapped
// in a frame window that is not, whatever was announced; with no window manager, once mapped.
TEST(ScreenFit, OnAnXServerAWindowIsFramedOnlyWhereTheServerShowsIt)
{
    using namespace std::chrono_literals;
    if (!FramePlacement::framesWindows())
        GTEST_SKIP() << "needs an X server";
    const auto shown = [](const QWidget *window, int state) {
        return test::pumpUntil([&] { return mapState(window) == state; }, 5s);
    };
    {
        QWidget window;
        window.setGeometry(100, 100, 200, 100);
        window.winId();
        ASSERT_EQ(mapState(&window), XCB_MAP_STATE_UNMAPPED);
        EXPECT_FALSE(framedNow(&window));
        window.show();
        ASSERT_TRUE(shown(&window, XCB_MAP_STATE_VIEWABLE));
        EXPECT_TRUE(framedNow(&window));
        window.hide();
        ASSERT_TRUE(shown(&window, XCB_MAP_STATE_UNMAPPED));
        EXPECT_FALSE(framedNow(&window)) << "hidden";
    }
    FakeWindowManager wm;
    {
        QWidget window;
        window.setGeometry(100, 100, 200, 100);
        window.winId();
        wm.announce(&window, QMargins(1, 20, 1, 1));
        EXPECT_FALSE(framedNow(&window)) << "its frame announced before it was shown";
        window.show();
        ASSERT_TRUE(shown(&window, XCB_MAP_STATE_VIEWABLE));
        EXPECT_TRUE(framedNow(&window));
    }
    {
        QWidget window;
        window.setGeometry(100, 100, 200, 100);
        window.winId();
        const xcb_window_t frame = wm.reparent(&window, QRect(99, 80, 202, 121), QPoint(1, 20), false);
        window.show();
        ASSERT_TRUE(shown(&window, XCB_MAP_STATE_UNVIEWABLE));
        EXPECT_FALSE(framedNow(&window)) << "mapped in a frame not shown yet";
        wm.show(frame);
        ASSERT_TRUE(shown(&window, XCB_MAP_STATE_VIEWABLE));
        EXPECT_TRUE(framedNow(&window));
        EXPECT_EQ(ScreenFit::frameMargins(&window), QMargins(1, 20, 1, 1));
    }
}

// A window manager that frames windows without reparenting them announces each frame's extents,
// as left, right, top and bottom.
TEST(ScreenFit, OnAnXServerAnnouncedExtentsAreTheFramesSides)
{
    using namespace std::chrono_literals;
    if (!FramePlacement::framesWindows())
        GTEST_SKIP() << "needs an X server";
    FakeWindowManager wm;
    QWidget window;
    window.setGeometry(100, 100, 200, 100);
    window.show();
    ASSERT_TRUE(test::pumpUntil([&] { return mapState(&window) == XCB_MAP_STATE_VIEWABLE; }, 5s));
    const QMargins sides(3, 20, 7, 11);
    wm.announce(&window, sides);
    ASSERT_TRUE(test::pumpUntil([&] { return framedNow(&window); }, 5s));
    EXPECT_EQ(ScreenFit::frameMargins(&window), sides);
    EXPECT_EQ(ScreenFit::frameGeometry(&window), window.geometry().marginsAdded(sides));
}

TEST(ScreenFit, AWindowThatCanBeNarrowedIsNoWiderThanItsScreen)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const int across = screen->availableGeometry().width();
    const QMargins frame(1, 20, 1, 5);
    QWidget wide;
    wide.resize(across + 50, 100);
    ScreenFit::fit(&wide, frame, screen);
    EXPECT_EQ(wide.width(), across - 2);
    QWidget stubborn;
    stubborn.setMinimumWidth(across + 10);
    stubborn.resize(across + 50, 100);
    ScreenFit::fit(&stubborn, frame, screen);
    EXPECT_EQ(stubborn.width(), across + 10);
    QWidget fixed;
    fixed.setFixedSize(across + 50, 100);
    ScreenFit::fit(&fixed, frame, screen);
    EXPECT_EQ(fixed.width(), across + 50);
}

// A window manager's word on a size may come after the program asked for the next: the window
// then has a size other than its limits. Fitted again, it takes its limits from the room, never
// from that size, and is taken back to them.
TEST(ScreenFit, AWindowOfFixedHeightIsFittedByItsLimitsWhateverSizeItWasGiven)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    const QMargins frame(1, 20, 1, 1);
    const int room = ScreenFit::room(area, frame);
    QWidget sheet;
    sheet.setFixedSize(300, area.height() + 90);
    sheet.show();
    const auto given = [&](int height) {
        sheet.windowHandle()->resize(300, height);
        return test::pumpUntil([&] { return sheet.height() == height; });
    };
    // Fitted while unframed, then told of the size of the fit before.
    ScreenFit::fit(&sheet, QMargins(), screen);
    ASSERT_EQ(sheet.maximumHeight(), area.height());
    ASSERT_TRUE(given(room));
    ScreenFit::fit(&sheet, frame, screen);
    EXPECT_EQ(sheet.minimumHeight(), room);
    EXPECT_EQ(sheet.maximumHeight(), room);
    EXPECT_EQ(sheet.height(), room);
    // Given the whole height on a framed fit.
    ASSERT_TRUE(given(area.height()));
    ScreenFit::fit(&sheet, frame, screen);
    EXPECT_EQ(sheet.height(), room);
}

// Offscreen windows have no frames: what is left to see is who moved the window. Our placements
// and the window manager's moves before the window rests are not the user's; a move that takes
// the window from where it was placed before it rests gets it placed again.
TEST(FramePlacement, PlacesAgainWhatIsTakenAwayBeforeItRestsAndFollowsUntilTheUsersMove)
{
    using namespace std::chrono_literals;
    const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(40, 50);
    QWidget window;
    window.resize(200, 100);
    int placedAgain = 0, placed = 0, usersMoves = 0;
    auto *placement = new FramePlacement(&window, [&] {
        ++placedAgain;
        window.move(home);
    });
    placement->setSettleTime(30ms);
    QObject::connect(placement, &FramePlacement::placed, [&] { ++placed; });
    QObject::connect(placement, &FramePlacement::movedByUser, [&] { ++usersMoves; });
    window.show();
    placement->follow();
    placement->place([&] { window.move(home); });
    EXPECT_FALSE(placement->isSettled());

    // A move asked for earlier, carried out late by the window manager.
    window.move(home + QPoint(0, 24));
    ASSERT_TRUE(test::pumpUntil([&] { return placement->isPlaced(); }));
    EXPECT_EQ(placedAgain, 1);
    EXPECT_EQ(window.pos(), home);
    EXPECT_EQ(placed, 1);
    EXPECT_EQ(usersMoves, 0);
    EXPECT_TRUE(placement->isFollowing());

    // Once it rests, a move is the user's, and the window stays where the user put it.
    window.move(home + QPoint(100, 0));
    EXPECT_EQ(usersMoves, 1);
    EXPECT_FALSE(placement->isFollowing());
    window.move(home + QPoint(120, 0));
    EXPECT_EQ(usersMoves, 2);
    EXPECT_EQ(window.pos(), home + QPoint(120, 0));
    EXPECT_EQ(placedAgain, 1);

    // Minimised and restored, it is the window manager's to place again until it rests.
    window.showMinimized();
    window.showNormal();
    window.move(home + QPoint(10, 10));
    EXPECT_EQ(usersMoves, 2);
    ASSERT_TRUE(test::pumpUntil([&] { return placement->isSettled(); }));

    // Shown again, it follows again until the user moves it.
    window.hide();
    EXPECT_FALSE(placement->isSettled());
    window.show();
    placement->follow();
    EXPECT_TRUE(placement->isFollowing());
}

// A window of fixed size that rests placed and is given another size has it from the window
// manager, whenever that comes: placed again, its size back, and still followed.
TEST(FramePlacement, AFixedSizeWindowGivenAnotherSizeAfterItRestsIsPlacedAgain)
{
    using namespace std::chrono_literals;
    const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(40, 50);
    QWidget window;
    window.setFixedSize(200, 100);
    int placedAgain = 0, usersMoves = 0;
    const auto placeIt = [&] {
        ScreenFit::fit(&window, QMargins(), window.screen());
        window.move(home);
    };
    auto *placement = new FramePlacement(&window, [&] {
        ++placedAgain;
        placeIt();
    });
    placement->setSettleTime(30ms);
    QObject::connect(placement, &FramePlacement::movedByUser, [&] { ++usersMoves; });
    window.show();
    placement->follow();
    placement->place(placeIt);
    ASSERT_TRUE(test::pumpUntil([&] { return placement->isPlaced(); }));

    window.windowHandle()->resize(200, 160);
    ASSERT_TRUE(test::pumpUntil([&] { return placedAgain == 1 || !placement->isFollowing(); }));
    ASSERT_TRUE(placement->isFollowing()) << "taken for the user's";
    ASSERT_TRUE(test::pumpUntil([&] { return placedAgain == 1 && placement->isPlaced(); }));
    EXPECT_EQ(window.size(), QSize(200, 100));
    EXPECT_EQ(window.pos(), home);
    EXPECT_TRUE(placement->isFollowing());
    EXPECT_EQ(usersMoves, 0);
}

// A window manager that has not framed the window yet: its moves are its own, and the frame it
// announces completes the placement, or when it differs, is followed.
TEST(FramePlacement, OnAnXServerFollowsTheWindowManagerUntilItHasFramedTheWindow)
{
    using namespace std::chrono_literals;
    if (!FramePlacement::framesWindows())
        GTEST_SKIP() << "needs an X server";
    FakeWindowManager wm;
    const QPoint home = QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(40, 50);
    QWidget window;
    window.resize(200, 100);
    int placedAgain = 0, placed = 0, usersMoves = 0;
    auto *placement = new FramePlacement(&window, [&] {
        ++placedAgain;
        window.move(home);
    });
    placement->setSettleTime(30ms);
    QObject::connect(placement, &FramePlacement::placed, [&] { ++placed; });
    QObject::connect(placement, &FramePlacement::movedByUser, [&] { ++usersMoves; });
    window.move(home);
    window.show();
    placement->follow();
    placement->place([&] { window.move(home); });
    ASSERT_TRUE(test::pumpUntil([&] { return placement->isSettled() && window.geometry().topLeft() == home; }, 5s));
    EXPECT_FALSE(placement->isPlaced()) << "not framed yet";

    wm.move(&window, home + QPoint(30, 0));
    ASSERT_TRUE(test::pumpUntil([&] { return window.geometry().topLeft() != home; }, 5s));
    ASSERT_TRUE(test::pumpUntil([&] { return placement->isSettled() && window.geometry().topLeft() == home; }, 5s));
    EXPECT_EQ(usersMoves, 0);
    EXPECT_TRUE(placement->isFollowing());

    // Framed where it rests, at no margins: placed, though nothing moved.
    wm.announce(&window, QMargins());
    ASSERT_TRUE(test::pumpUntil([&] { return placed == 1; }, 5s));
    // A frame with a title bar, announced alone: placed again on it.
    const int before = placedAgain;
    wm.announce(&window, QMargins(1, 20, 1, 1));
    EXPECT_TRUE(test::pumpUntil([&] { return placedAgain > before; }, 5s));
    EXPECT_EQ(usersMoves, 0);
}

TEST(DesignScaleLayout, RoundsEdgesSoNeighboursNeverGap)
{
    QWidget host;
    auto *layout = new DesignScaleLayout(QSizeF(1104, 435), &host);
    QList<QWidget *> cells;
    for (int i = 0; i < 7; ++i) {
        cells.append(new QWidget);
        layout->addWidget(cells.last(), QRectF(10 + i * 33.3, 5.5, 33.3, 20.2));
    }
    for (int width : {1104, 607, 552, 333}) {
        layout->setGeometry(QRect(0, 0, width, 435));
        const double s = width / 1104.0;
        EXPECT_DOUBLE_EQ(layout->scale(), s);
        for (int i = 1; i < cells.size(); ++i)
            EXPECT_EQ(cells[i - 1]->geometry().right() + 1, cells[i]->geometry().left()) << width << " " << i;
        EXPECT_EQ(cells.last()->geometry().right() + 1, qRound((10 + 7 * 33.3) * s));
    }
    EXPECT_EQ(layout->heightForWidth(552), qRound(435 / 2.0));
    EXPECT_EQ(DesignScaleLayout::toDesign(QPointF(55.2, 11), 0.55), QPointF(100.36363636363636, 20));
    EXPECT_EQ(DesignScaleLayout::scaledFont(QFont(), 13, 0.55).pixelSize(), 7);
}

TEST(DesignScale, ThePlacingLayoutsScaleElseTheOwnDesignSizeAndOneAtZeroWidth)
{
    // A control the layout rounded to 34 × 26 for 62 × 48 still draws, with all it holds, at
    // exactly the layout's s; only its stretch follows its own frame.
    QWidget host;
    auto *layout = new DesignScaleLayout(QSizeF(1104, 112), &host);
    auto *control = new QWidget;
    DesignScale::setDesignSize(control, QSizeF(62, 48));
    layout->addWidget(control, QRectF(232, 49, 62, 48));
    auto *inner = new QWidget(control);
    layout->setGeometry(QRect(0, 0, 607, 62));
    const double s = 607 / 1104.0;
    ASSERT_EQ(control->size(), QSize(34, 26));
    EXPECT_EQ(DesignScale::of(control), s);
    EXPECT_EQ(DesignScale::of(inner), s);
    EXPECT_EQ(DesignScale::toDesign(inner, QPointF(55, 11)), QPointF(55 / s, 11 / s));
    EXPECT_EQ(DesignScale::stretch(control), QSizeF(34 / 62.0, 26 / 48.0));

    // Unplaced, its own design size: the width decides, and so for its children.
    QWidget own;
    DesignScale::setDesignSize(&own, QSizeF(200, 50));
    own.resize(300, 60);
    QWidget child(&own);
    EXPECT_EQ(DesignScale::of(&child), 1.5);
    EXPECT_EQ(DesignScale::stretch(&own), QSizeF(1.5, 1.2));
    EXPECT_EQ(DesignScale::fit(QSizeF(69, 14), QSizeF(128, 28)), 0.5);

    // Zero width, neither, or no widget: 1, so positions divided by s stay finite.
    own.resize(0, 60);
    layout->setGeometry(QRect(0, 0, 0, 62));
    QWidget plain;
    const QWidget *widgets[] = {&own, &child, control, &plain, nullptr};
    for (const QWidget *w : widgets)
        EXPECT_EQ(DesignScale::of(w), 1);
    EXPECT_EQ(DesignScale::stretch(&plain), QSizeF(1, 1));
}
