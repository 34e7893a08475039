#include "windows/window_position_reader.h"

#include "views/kit/screen_fit.h"

#include "support/test_support.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace tampod;

TEST(WindowPositionReader, PlacementRule)
{
    const QRectF left(0, 0, 1000, 800), right(1000, 0, 800, 600);
    const struct {
        const char *name;
        QRectF frame;
        QList<QRectF> screens;
        QPointF origin;
    } cases[] = {
        {"inside stays", {100, 100, 300, 200}, {left, right}, {100, 100}},
        {"no screens: unchanged", {-5000, 7000, 300, 200}, {}, {-5000, 7000}},
        {"most overlap wins", {900, 100, 300, 200}, {left, right}, {1000, 100}},
        {"equal overlap: first listed", {850, 100, 300, 200}, {left, right}, {700, 100}},
        {"equal overlap: first listed, either order", {850, 100, 300, 200}, {right, left}, {1000, 100}},
        {"off every screen: the first", {5000, -3000, 300, 200}, {right, left}, {1500, 0}},
        {"pulled down below the top", {100, 700, 300, 200}, {left}, {100, 600}},
        {"too large: left and top edges", {50, 50, 1200, 900}, {left}, {0, -100}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WindowPositionReader::clamped(c.frame, c.screens), QRectF(c.origin, c.frame.size())) << c.name;
}

TEST(WindowPositionReader, ConversionAndTexts)
{
    // Stored points are bottom-left corners, y up from the primary screen's bottom edge.
    const QRect primary(0, 0, 1920, 1080);
    EXPECT_EQ(WindowPositionReader::toStored(QRect(100, 50, 600, 700), primary), QRectF(100, 330, 600, 700));
    EXPECT_EQ(WindowPositionReader::toStored(QRect(0, 1080, 10, 10), primary), QRectF(0, -10, 10, 10));
    const QRect offset(1920, 200, 1280, 1024); // primary right of and below another screen
    EXPECT_EQ(WindowPositionReader::toStored(QRect(1920, 200, 100, 100), offset), QRectF(0, 924, 100, 100));
    for (const QRect frame : {QRect(100, 50, 600, 700), QRect(-300, -20, 40, 30)})
        for (const QRect screen : {primary, offset})
            EXPECT_EQ(WindowPositionReader::fromStored(WindowPositionReader::toStored(frame, screen), screen), frame);

    const struct {
        const char *text;
        std::optional<QPointF> point;
    } texts[] = {
        {"{12, 34}", QPointF(12, 34)}, {"{-5,7.5}", QPointF(-5, 7.5)}, {"{ 1e3 , 2 }", QPointF(1000, 2)},
        {"{12}", std::nullopt},        {"12, 34", std::nullopt},        {"{nan, 1}", std::nullopt},
        {"{1, inf}", std::nullopt},    {"{1e300, 1}", std::nullopt},    {"{1, 2} ", std::nullopt},
        {"", std::nullopt},            {"{a, b}", std::nullopt},
    };
    for (const auto &t : texts)
        EXPECT_EQ(WindowPositionReader::parse(QString::fromLatin1(t.text)), t.point) << t.text;
    EXPECT_EQ(WindowPositionReader::text(QPointF(-3, 40)), QStringLiteral("{-3, 40}"));
    EXPECT_EQ(WindowPositionReader::text(QPointF(0.5, 1e6)), QStringLiteral("{0.5, 1000000}"));
}

namespace {

using namespace std::chrono_literals;

// One launch of a window under "about": attached before it is shown, as the application does.
struct Launch {
    QWidget window;
    WindowPositionReader *reader;

    Launch(QSettings &settings, std::function<void()> onClose = {})
    {
        window.resize(200, 100);
        reader = WindowPositionReader::attach(&window, QStringLiteral("about"), settings, std::move(onClose));
        reader->setSettleTime(30ms);
    }

    bool showAndSettle()
    {
        window.show();
        return test::pumpUntil([&] { return reader->isSettled(); });
    }

    void button(QEvent::Type type)
    {
        QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &event);
    }
};

} // namespace

TEST(WindowPositionReader, SavesTheUsersMovesOnlyOnceSettled)
{
    test::TempDir folder;
    QSettings settings(folder.file(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QString key = QStringLiteral("windowPosition.about");
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const auto stored = [&](const QWidget &window) {
        return WindowPositionReader::text(WindowPositionReader::toStored(window.frameGeometry(), primary).topLeft());
    };
    int closed = 0;
    QString first;
    {
        Launch launch(settings, [&] { ++closed; });
        launch.window.show();
        // The window manager places and frames the window: not the user's, and it restarts
        // the wait.
        launch.window.move(screen.topLeft() + QPoint(40, 50));
        EXPECT_FALSE(launch.reader->isSettled());
        ASSERT_TRUE(test::pumpUntil([&] { return launch.reader->isSettled(); }));
        EXPECT_FALSE(settings.contains(key));

        // A window manager's drag: one move after the button is up, with no button state.
        launch.window.move(screen.topLeft() + QPoint(60, 70));
        EXPECT_EQ(settings.value(key).toString(), stored(launch.window));
        // And one seen while the button is down.
        launch.button(QEvent::MouseButtonPress);
        launch.window.move(screen.topLeft() + QPoint(80, 90));
        launch.button(QEvent::MouseButtonRelease);
        first = stored(launch.window);
        EXPECT_EQ(settings.value(key).toString(), first);

        // Our own pull back onto the screens is not saved, nor anything until it settles again.
        launch.window.move(screen.topLeft() - QPoint(150, 0));
        const QString offScreen = settings.value(key).toString();
        launch.reader->pullOntoScreens();
        EXPECT_EQ(launch.window.frameGeometry().left(), screen.left());
        launch.window.move(launch.window.pos() + QPoint(0, 3));
        EXPECT_EQ(settings.value(key).toString(), offScreen);
        ASSERT_TRUE(test::pumpUntil([&] { return launch.reader->isSettled(); }));
        launch.window.move(screen.topLeft() + QPoint(80, 90));
        EXPECT_EQ(settings.value(key).toString(), first);
        EXPECT_TRUE(launch.window.close());
    }
    EXPECT_EQ(closed, 1);

    // Two launches in a row open at the same place, whatever the window manager does while
    // they are shown; neither saves anything of it.
    QRect frame;
    for (int i = 0; i < 2; ++i) {
        Launch launch(settings);
        launch.window.show();
        EXPECT_TRUE(test::pumpUntil([&] { return stored(launch.window) == first; })) << i;
        if (i == 0)
            frame = launch.window.frameGeometry();
        EXPECT_EQ(launch.window.frameGeometry(), frame) << i;
        launch.window.move(launch.window.pos() + QPoint(0, 24)); // framing, before it settled
        ASSERT_TRUE(test::pumpUntil([&] { return launch.reader->isSettled(); }));
        EXPECT_EQ(settings.value(key).toString(), first) << i;
    }

    // A position off every screen comes back onto the first one, pulled inside, unsaved.
    settings.setValue(key, QStringLiteral("{90000, -90000}"));
    {
        Launch launch(settings);
        ASSERT_TRUE(launch.showAndSettle());
        EXPECT_EQ(launch.window.frameGeometry().bottomRight(), screen.bottomRight());
        EXPECT_EQ(settings.value(key).toString(), QStringLiteral("{90000, -90000}"));
    }
    settings.setValue(key, QStringLiteral("{nan, 3}"));
    {
        QWidget window;
        window.move(5, 6);
        WindowPositionReader::attach(&window, QStringLiteral("about"), settings);
        EXPECT_EQ(window.pos(), QPoint(5, 6));
    }
}

// A window without decorations, as with no window manager: its frame is known from the start,
// so nothing places it again once it is framed.
TEST(WindowPositionReader, AStoredPositionWinsOverCentringAndACentredFrameStaysOnScreen)
{
    test::TempDir folder;
    QSettings settings(folder.file(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget anchor;
    anchor.resize(400, 300);
    const auto open = [&](const QString &key) {
        auto window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
        window->resize(200, 100);
        WindowPositionReader::attach(window.get(), key, settings)->centreOn(&anchor);
        window->show();
        return window;
    };

    anchor.move(area.topLeft() + QPoint(50, 60));
    EXPECT_EQ(open(QStringLiteral("about"))->frameGeometry().center(), anchor.frameGeometry().center());

    // Where the user left it last time wins.
    const QPointF left(area.left() + 7, 40);
    settings.setValue(WindowPositionReader::storageKey(QStringLiteral("settings")), WindowPositionReader::text(left));
    const auto stored = [&](const QWidget &window) {
        return WindowPositionReader::text(WindowPositionReader::toStored(window.frameGeometry(), primary).topLeft());
    };
    EXPECT_EQ(stored(*open(QStringLiteral("settings"))), WindowPositionReader::text(left));

    // Centred on a window hanging off the bottom right corner: pulled inside.
    anchor.move(area.bottomRight() - QPoint(100, 80));
    EXPECT_EQ(open(QStringLiteral("manual"))->frameGeometry().bottomRight(), area.bottomRight());
}

// A window sized by its layout has its own size only once shown, and the stored corner is its
// bottom-left one: it is placed at the size the window opens at, not at a hidden window's.
TEST(WindowPositionReader, AStoredPositionIsPlacedAtTheSizeTheWindowOpensAt)
{
    test::TempDir folder;
    QSettings settings(folder.file(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // Near the bottom right, where a larger guess would be pulled back onto the screen.
    const QRect left(area.right() - 400, area.bottom() - 460, 360, 410);
    const QString corner = WindowPositionReader::text(WindowPositionReader::toStored(left, primary).topLeft());
    settings.setValue(WindowPositionReader::storageKey(QStringLiteral("about")), corner);

    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *content = new QWidget(&window);
    content->setFixedSize(left.size());
    layout->addWidget(content);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    WindowPositionReader::attach(&window, QStringLiteral("about"), settings);
    window.show();
    EXPECT_EQ(window.frameGeometry(), left);
    EXPECT_EQ(settings.value(WindowPositionReader::storageKey(QStringLiteral("about"))).toString(), corner);
}

// Taller than its screen: a window of fixed height opens at the screen's height, one whose content
// scales opens with that content scaled down as a whole, each wholly on the screen, its top edge
// (the title bar) never above it, wherever it was put before it showed.
TEST(WindowPositionReader, AWindowTallerThanItsScreenOpensAtTheScreensHeight)
{
    test::TempDir folder;
    QSettings settings(folder.file(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize tall(300, area.height() + 200);

    QWidget fixed(nullptr, Qt::Window | Qt::FramelessWindowHint);
    fixed.setFixedSize(tall);
    WindowPositionReader::attach(&fixed, QStringLiteral("settings"), settings);
    fixed.move(area.topLeft() - QPoint(0, 150));
    fixed.show();
    EXPECT_EQ(fixed.size(), QSize(tall.width(), area.height()));
    EXPECT_TRUE(area.contains(fixed.frameGeometry())) << fixed.frameGeometry().y();

    QWidget scaled(nullptr, Qt::Window | Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&scaled);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *bar = new QWidget(&scaled);
    bar->setFixedHeight(20);
    layout->addWidget(bar);
    auto *content = new QWidget(&scaled);
    ScreenFit::scalesToFit(content, tall);
    layout->addWidget(content);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    WindowPositionReader::attach(&scaled, QStringLiteral("main"), settings);
    scaled.move(area.topLeft() - QPoint(0, 150));
    scaled.show();
    const double s = double(area.height() - 20) / tall.height();
    EXPECT_EQ(content->size(), QSize(qRound(tall.width() * s), area.height() - 20));
    EXPECT_EQ(scaled.height(), area.height());
    EXPECT_TRUE(area.contains(scaled.frameGeometry())) << scaled.frameGeometry().y();
}
