// Journeys off the mouse's main path: the wheel over the export sheet's settings, and what a
// screen reader reads of its Format box and of the settings window's status.
#include "journey.h"

#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/kit/controls/stepper.h"
#include "views/settings/export_settings_view.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include "support/user_wheel.h"

#include <QAccessible>
#include <QPointer>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

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
