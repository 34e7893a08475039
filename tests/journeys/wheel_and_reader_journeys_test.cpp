// Journeys off the mouse's main path: the wheel over the export sheet's settings, what a screen
// reader reads of its Format box and of the settings window's status, and what it hears of the
// library's selection.
#include "journey.h"

#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/controls/stepper.h"
#include "views/library/library_row.h"
#include "views/main/main_view_texts.h"
#include "views/manual/article_page.h"
#include "views/manual/help_section_view.h"
#include "views/manual/user_manual_view.h"
#include "views/settings/export_settings_view.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include "support/user_wheel.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>

#include <functional>

using namespace tampod;
using namespace tampod::test;

namespace {

// The wheel over over, which the pointer finds uncovered.
void wheel(QWidget *over, int notches)
{
    QWidget *under = turnWheel(over, notches);
    ASSERT_TRUE(under == over || over->isAncestorOf(under)) << "covered by " << under->metaObject()->className();
}

QScrollBar *formScrollBar(const QWidget *inForm)
{
    for (QWidget *up = inForm->parentWidget(); up; up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up))
            return area->verticalScrollBar();
    }
    return nullptr;
}

// What a screen reader reads as a widget's text, its text interface's whole text.
QString readerText(QWidget *widget)
{
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(widget)->textInterface();
    return text ? text->text(0, text->characterCount()) : QStringLiteral("<no text>");
}

// The item the list of a picker's choices reports selected.
QString selectedChoice(QComboBox *picker)
{
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(picker)->child(0);
    if (!list || !list->tableInterface())
        return QStringLiteral("<no list>");
    const QList<QAccessibleInterface *> cells = list->tableInterface()->selectedCells();
    return cells.size() == 1 ? cells.first()->text(QAccessible::Name) : QStringLiteral("<%1 selected>").arg(cells.size());
}

// What the library table tells an active screen reader, each event's kind and cell number, in
// place of the accessibility bridge while it lives.
class LibraryAnnouncements {
public:
    using Heard = QList<std::pair<QAccessible::Event, int>>;

    LibraryAnnouncements()
    {
        heard().clear();
        previous_ = QAccessible::installUpdateHandler(&LibraryAnnouncements::record);
    }
    ~LibraryAnnouncements() { QAccessible::installUpdateHandler(previous_); }
    LibraryAnnouncements(const LibraryAnnouncements &) = delete;
    LibraryAnnouncements &operator=(const LibraryAnnouncements &) = delete;

    static Heard &heard()
    {
        static Heard events;
        return events;
    }
    static bool contains(QAccessible::Event type, int cell) { return heard().contains({type, cell}); }

private:
    static void record(QAccessibleEvent *event)
    {
        if (qobject_cast<LibraryTable *>(event->object()))
            heard().append({event->type(), event->child()});
    }

    QAccessible::UpdateHandler previous_ = nullptr;
};

std::string described(const LibraryAnnouncements::Heard &heard)
{
    std::string text;
    for (const auto &[type, cell] : heard) {
        const std::string kind = type == QAccessible::SelectionAdd      ? "selection add"
                                 : type == QAccessible::SelectionRemove ? "selection remove"
                                 : type == QAccessible::Focus           ? "focus"
                                                                        : std::to_string(type);
        text += " " + kind + " @" + std::to_string(cell);
    }
    return text.empty() ? " nothing" : text;
}

} // namespace

TEST_F(Journey, TheWheelOverTheExportSettingsScrollsTheFormAndLeavesTheirValues)
{
    // With a loop the sheet also offers its repeats, below the fold.
    writeTone(music + "/take.wav", 10);
    open(music + "/take.wav", 1);
    ASSERT_TRUE(press(window, QStringLiteral("Loop selected region")));
    ASSERT_TRUE(pumpUntil([&] { return player().sectionLoop().range() && player().sectionLoop().prepared(); },
                          std::chrono::seconds(30)));
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    QComboBox *format = sheet->findChild<ExportFormatControls *>()->format();
    Stepper *repeats = sheet->findChild<LoopExportControls *>()->repeatStepper();
    ASSERT_TRUE(pumpUntil([&] { return repeats->isVisible(); }));
    QScrollBar *scroll = formScrollBar(format);
    ASSERT_NE(scroll, nullptr);
    ASSERT_GT(scroll->maximum(), 0) << "the form fits: nothing to scroll";
    ASSERT_EQ(scroll->value(), 0);
    ASSERT_FALSE(format->hasFocus());
    const QString shownFormat = format->currentText();
    const int shownRepeats = repeats->value();

    wheel(format, -2);
    EXPECT_EQ(format->currentText(), shownFormat);
    EXPECT_GT(scroll->value(), 0);

    // The stepper, now scrolled nearer, turned the other way.
    const int scrolled = scroll->value();
    ASSERT_FALSE(repeats->hasFocus());
    wheel(repeats, 1);
    EXPECT_EQ(repeats->value(), shownRepeats);
    EXPECT_LT(scroll->value(), scrolled);
    EXPECT_FALSE(format->hasFocus() || repeats->hasFocus());
}

// A window system activates a sheet or a window as it opens, and the focus lands on the first
// field, Format: the user has chosen nothing yet, so the wheel over it scrolls the form.
TEST_F(Journey, TheWheelOverFormatRightAfterTheSheetAndSettingsOpenScrollsTheFormAndKeepsWAV)
{
    // Vinyl and Hum on: their rows make the settings window's form longer than the window.
    ExportDefaults textured;
    textured.vinyl.enabled = textured.vinyl.humEnabled = true;
    ASSERT_TRUE(app->preferences().save(textured));
    writeTone(music + "/take.wav", 10);
    open(music + "/take.wav", 1);
    ASSERT_TRUE(press(window, QStringLiteral("Loop selected region")));
    ASSERT_TRUE(pumpUntil([&] { return player().sectionLoop().range() && player().sectionLoop().prepared(); },
                          std::chrono::seconds(30)));
    const auto sheetFormat = [&]() -> QComboBox * {
        SheetDialog *sheet = openExportSheet();
        return sheet ? sheet->findChild<ExportFormatControls *>()->format() : nullptr;
    };
    const auto settingsFormat = [&]() -> QComboBox * {
        ExportSettingsView *settings = openSettings();
        return settings ? settings->format() : nullptr;
    };
    for (const std::function<QComboBox *()> &opened : {std::function<QComboBox *()>(sheetFormat),
                                                        std::function<QComboBox *()>(settingsFormat)}) {
        QComboBox *format = opened();
        ASSERT_NE(format, nullptr);
        QPointer<QWidget> shown = format->window();
        QApplication::setActiveWindow(shown);
        ASSERT_TRUE(pumpUntil([&] { return format->hasFocus(); }))
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "no focus");
        QScrollBar *scroll = formScrollBar(format);
        ASSERT_NE(scroll, nullptr);
        ASSERT_GT(scroll->maximum(), 0) << shown->windowTitle().toStdString() << ": the form fits, nothing to scroll";
        ASSERT_EQ(scroll->value(), 0);

        wheel(format, -2);
        EXPECT_EQ(format->currentText(), QStringLiteral("WAV"));
        EXPECT_GT(scroll->value(), 0) << shown->windowTitle().toStdString();

        // Chosen by a click and its list closed with Escape, then left for a click on the blank
        // space beside the form: the wheel over it is the form's again.
        scroll->setValue(0);
        const QPoint onFormat = format->mapTo(shown, format->rect().center());
        ASSERT_EQ(clickAsUser(shown, onFormat), format);
        ASSERT_TRUE(pumpUntil([] { return QApplication::activePopupWidget() != nullptr; }));
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(QApplication::activePopupWidget(), &escape);
        ASSERT_TRUE(pumpUntil([] { return QApplication::activePopupWidget() == nullptr; }));
        ASSERT_TRUE(format->hasFocus());
        const QWidget *blank = clickAsUser(shown, QPoint(3, shown->height() / 2));
        EXPECT_FALSE(format->hasFocus()) << "clicked " << blank->metaObject()->className();
        wheel(format, -2);
        EXPECT_EQ(format->currentText(), QStringLiteral("WAV")) << shown->windowTitle().toStdString();
        EXPECT_GT(scroll->value(), 0) << shown->windowTitle().toStdString();
        shown->close();
        ASSERT_TRUE(pumpUntil([&] { return !shown || !shown->isVisible(); }));
    }
    EXPECT_EQ(app->preferences().defaults(), textured);
}

TEST_F(Journey, AScreenReaderHearsTheFormatBoxsChoice)
{
    writeTone(music + "/take.wav", 1);
    open(music + "/take.wav", 1);
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    QComboBox *format = sheet->findChild<ExportFormatControls *>()->format();
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(format);
    EXPECT_EQ(reader->text(QAccessible::Name), QStringLiteral("Format"));
    EXPECT_EQ(reader->text(QAccessible::Value), QStringLiteral("WAV"));
    EXPECT_EQ(readerText(format), QStringLiteral("WAV"));
    EXPECT_EQ(selectedChoice(format), QStringLiteral("WAV"));

    ASSERT_TRUE(choose(format, QStringLiteral("flac")));
    EXPECT_EQ(reader->text(QAccessible::Value), QStringLiteral("FLAC"));
    EXPECT_EQ(readerText(format), QStringLiteral("FLAC"));
    EXPECT_EQ(selectedChoice(format), QStringLiteral("FLAC"));
}

TEST_F(Journey, AScreenReaderHearsTheSettingsStatus)
{
    ExportSettingsView *settings = openSettings();
    ASSERT_NE(settings, nullptr);
    QLabel *status = settings->statusLine();
    QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(status);
    EXPECT_EQ(reader->text(QAccessible::Name), QStringLiteral("Settings status"));
    EXPECT_EQ(reader->text(QAccessible::Value), QStringLiteral("Settings saved"));
    EXPECT_EQ(readerText(status), QStringLiteral("Settings saved"));

    ASSERT_TRUE(choose(settings->format(), QStringLiteral("flac")));
    ASSERT_TRUE(pumpUntil([&] { return status->text() == QStringLiteral("Unapplied changes"); }));
    EXPECT_EQ(reader->text(QAccessible::Value), QStringLiteral("Unapplied changes"));
    EXPECT_EQ(readerText(status), QStringLiteral("Unapplied changes"));
}

// A selection and a current cell are announced by the cells' own numbers in the table's element
// (row × columns + column), the current cell only while the keyboard is in the table. Qt sends
// events only while accessibility is active: where a bridge is (on the accessibility bus).
TEST_F(Journey, AScreenReaderHearsTheLibrarysSelectionAndCurrentCellByTheirNumbers)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        GTEST_SKIP() << "no accessibility bridge on the offscreen platform";
    ASSERT_TRUE(pumpUntil([] { return QAccessible::isActive(); }));
    for (const char *take : {"a", "b", "c", "d"})
        writeTone(music + u'/' + QLatin1String(take) + ".wav", 1);
    open(music, 4);
    table().setFocus();
    ASSERT_TRUE(pumpUntil([&] { return table().hasFocus(); }));
    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&table());
    const auto number = [&](int row, int column) {
        return element->indexOfChild(element->tableInterface()->cellAt(row, column));
    };
    LibraryAnnouncements announcements;
    using L = LibraryAnnouncements;

    clickCell(2, LibraryColumns::name);
    EXPECT_TRUE(L::contains(QAccessible::SelectionAdd, number(2, 0))) << described(L::heard());
    EXPECT_TRUE(L::contains(QAccessible::Focus, number(2, LibraryColumns::name))) << described(L::heard());

    L::heard().clear();
    clickCell(0, LibraryColumns::name);
    EXPECT_TRUE(L::contains(QAccessible::SelectionRemove, number(2, 0))) << described(L::heard());
    EXPECT_TRUE(L::contains(QAccessible::SelectionAdd, number(0, 0))) << described(L::heard());
    EXPECT_TRUE(L::contains(QAccessible::Focus, number(0, LibraryColumns::name))) << described(L::heard());

    // The keyboard elsewhere: the model's selection is announced, a current cell is not.
    QAbstractButton *clear = button(window, QStringLiteral("Clear All Files"));
    ASSERT_NE(clear, nullptr);
    clear->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return !table().hasFocus(); }));
    L::heard().clear();
    player().selectVisibleLibraryRows({table().tableModel()->row(3).id});
    ASSERT_TRUE(pumpUntil([&] { return table().selectionModel()->isRowSelected(3); }));
    table().setCurrentIndex(table().tableModel()->index(3, LibraryColumns::name));
    EXPECT_TRUE(L::contains(QAccessible::SelectionAdd, number(3, 0))) << described(L::heard());
    for (const auto &[type, cell] : L::heard())
        EXPECT_NE(type, QAccessible::Focus) << cell;

    // The keyboard comes back: after the table, its current cell, so a reader hears the row
    // it is on and not only the table's size.
    L::heard().clear();
    table().setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(pumpUntil([&] {
        return !L::heard().isEmpty() && L::heard().last() == std::pair(QAccessible::Focus, number(3, LibraryColumns::name));
    })) << described(L::heard());
}

// Playback moves the position slider many times a second; a screen reader hears its value, the
// time shown, each time that time changes, not at each move, and the user's own step at once.
TEST_F(Journey, AScreenReaderHearsThePlaybackPositionAsItsTimeOnceASecond)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        GTEST_SKIP() << "no accessibility bridge on the offscreen platform";
    ASSERT_TRUE(pumpUntil([] { return QAccessible::isActive(); }));
    writeTone(music + "/take.wav", 3);
    open(music + "/take.wav", 1);
    HardwareSlider *position = nullptr;
    for (HardwareSlider *slider : window->findChildren<HardwareSlider *>())
        if (slider->accessibleName() == MainViewText::playbackPosition)
            position = slider;
    ASSERT_NE(position, nullptr);
    static QObject *heardSlider = nullptr;
    static QStringList heard;
    heardSlider = position;
    heard.clear();
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
        if (event->type() == QAccessible::ValueChanged && event->object() == heardSlider)
            heard << QAccessible::queryAccessibleInterface(heardSlider)->text(QAccessible::Value);
    });
    const auto restore = qScopeGuard([&] { QAccessible::installUpdateHandler(previous); });
    ASSERT_TRUE(press(window, QStringLiteral("Play")));
    ASSERT_TRUE(pumpUntil([&] { return player().isPlaying(); }));
    ASSERT_TRUE(pumpUntil([&] { return !player().isPlaying(); }, std::chrono::seconds(120)));
    // 3 s: the times 00:00:00 to 00:00:03, each heard once at most.
    EXPECT_LE(heard.size(), 4) << heard.join(u',').toStdString();
    EXPECT_EQ(QSet<QString>(heard.cbegin(), heard.cend()).size(), heard.size()) << heard.join(u',').toStdString();
    for (const QString &time : heard)
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^00:00:0[0-3]$")).match(time).hasMatch()) << time.toStdString();
    const qsizetype before = heard.size();
    position->setFocus();
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(position, &home);
    EXPECT_EQ(heard.size(), before + 1) << "the user's step, at once";
}

// Tab moves from link to link inside one glossary label of the manual: a reader hears each link
// as the focus, named by it, not only the label it heard first.
TEST_F(Journey, AScreenReaderHearsEachGlossaryLinkOfTheManualAsTabReachesIt)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        GTEST_SKIP() << "no accessibility bridge on the offscreen platform";
    ASSERT_TRUE(pumpUntil([] { return QAccessible::isActive(); }));
    app->commands()->manualAction()->trigger();
    QWidget *manual = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (manual = app->windows().window(WindowId::manual)) && manual->isVisible(); }));
    auto *view = manual->findChild<UserManualView *>();
    ASSERT_NE(view, nullptr);
    QLabel *links = nullptr;
    for (int row = 0; row < view->articleList()->count() && !links; ++row) {
        view->articleList()->setCurrentRow(row);
        pumpUntil([&] { return view->page() != nullptr; });
        for (HelpSectionView *section : view->page()->findChildren<HelpSectionView *>())
            if (section->glossaryLinks() && section->glossaryLinks()->text().count(QLatin1String("<a ")) > 1)
                links = section->glossaryLinks();
    }
    ASSERT_NE(links, nullptr);
    const int count = int(links->text().count(QLatin1String("<a ")));
    static QObject *heardLabel = nullptr;
    static QStringList heard;
    heardLabel = links;
    heard.clear();
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler([](QAccessibleEvent *event) {
        if (event->type() == QAccessible::Focus && event->object() == heardLabel)
            heard << QAccessible::queryAccessibleInterface(heardLabel)->text(QAccessible::Name);
    });
    const auto restore = qScopeGuard([&] { QAccessible::installUpdateHandler(previous); });
    QApplication::setActiveWindow(manual);
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == manual; }));
    links->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(pumpUntil([&] { return links->hasFocus(); }));
    for (int link = 0; link < count; ++link) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(links, &tab);
    }
    // The label as the keyboard arrived, then each link by its own name.
    ASSERT_EQ(heard.size(), count + 1) << heard.join(u'|').toStdString();
    EXPECT_EQ(QSet<QString>(heard.cbegin(), heard.cend()).size(), count + 1) << heard.join(u'|').toStdString();
    for (const QString &name : heard.mid(1))
        EXPECT_TRUE(name.startsWith(QStringLiteral("Glossary: ")) && !name.contains(QStringLiteral(" · ")))
            << name.toStdString();
}
