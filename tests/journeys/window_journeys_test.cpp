// Journeys through the main window and its other windows: a folder opened, a tempo detected, a
// section loop set, played and undone, a joined FLAC played on past where it was refused, access
// restored after a move, settings applied, and the manual searched.
#include "journey.h"
#include "support/run_program.h"

#include "bpm/synthetic_audio.h"
#include "views/export_form/export_format_controls.h"
#include "views/library/library_cells.h"
#include "views/library/library_row.h"
#include "views/main/content_view.h"
#include "views/waveform/waveform_view.h"
#include "views/settings/export_settings_view.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>

using namespace tampod;
using namespace tampod::test;

namespace {

void key(QWidget *to, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(to, &release);
}

void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(field, &typed);
}

QWidget *named(const QWidget *root, const QString &name)
{
    for (QWidget *child : root->findChildren<QWidget *>()) {
        if (child->accessibleName() == name && child->isVisible())
            return child;
    }
    return nullptr;
}

} // namespace

TEST_F(Journey, OpensAFolderIntoRows)
{
    for (const char *name : {"b.wav", "a.wav", "c.wav"})
        writeTone(music + u'/' + QLatin1String(name), 0.5);
    open(music, 3);
    EXPECT_EQ(rowNames(), (QStringList{"a.wav", "b.wav", "c.wav"}));
    EXPECT_EQ(table().tableModel()->row(0).duration.isEmpty(), false);
}

TEST_F(Journey, GetsTheTempoOfAClickTrackInItsRow)
{
    writeWav(music + "/click.wav", drumLoop(120, 44100, 8, DrumStyle::fourFloor), 1, 44100);
    open(music + "/click.wav", 1);
    ASSERT_TRUE(pumpUntil([&] { return table().tableModel()->row(0).canDetectBPM; }));
    click(table().viewport(), LibraryCells::getRect(cell(0, LibraryColumns::bpm)).center());
    EXPECT_TRUE(pumpUntil([&] { return table().tableModel()->row(0).bpm == QStringLiteral("120"); },
                          std::chrono::seconds(30)))
        << table().tableModel()->row(0).bpm.toStdString();
}

TEST_F(Journey, SetsPlaysAndUndoesASectionLoop)
{
    writeTone(music + "/take.wav", 10);
    open(music + "/take.wav", 1);
    SectionLoopCoordinator &loop = player().sectionLoop();
    ASSERT_TRUE(press(window, QStringLiteral("Loop selected region")));
    ASSERT_TRUE(pumpUntil([&] { return loop.range() && !loop.isPreparing() && loop.prepared(); },
                          std::chrono::seconds(30)));
    const SectionRange whole = *loop.range();

    QWidget *end = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (end = named(window, QStringLiteral("Section end"))) != nullptr; }));
    end->setFocus();
    key(end, Qt::Key_Left);
    ASSERT_TRUE(pumpUntil([&] { return loop.range() && loop.range()->end < whole.end && !loop.isPreparing(); },
                          std::chrono::seconds(30)));
    EXPECT_TRUE(loop.canUndo());

    ASSERT_TRUE(press(window, QStringLiteral("Play")));
    EXPECT_TRUE(pumpUntil([&] { return player().isPlaying(); }));

    // Ctrl+Z where the keyboard focus is, with the section end marker still focused.
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == window; }));
    ASSERT_EQ(QApplication::focusWidget(), end);
    key(end, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return loop.range() == whole && !loop.isPreparing(); }));
    EXPECT_FALSE(loop.canUndo());
}

// A FLAC file joined from two pieces cut from one stream, a frame repeated where they meet: played
// from the start it stops at the repeat with the alert; played from past the repeat it plays to
// its end, and from the start again it stops where a fresh session stops.
TEST_F(Journey, PlaysAJoinedFlacOnFromPastWhereItWasRefused)
{
    writeTone(music + "/tone.wav", 8);
    const QString source = root.file(QStringLiteral("tone.flac")), list = root.file(QStringLiteral("pieces.txt"));
    runChecked("ffmpeg", {"-v", "error", "-i", music + "/tone.wav", "-c:a", "flac", source});
    QFile::remove(music + "/tone.wav");
    QStringList lines;
    for (const auto &[name, range] : {std::pair("a.flac", QStringList{"-ss", "3", "-to", "5"}), std::pair("b.flac", QStringList{"-ss", "5"})}) {
        runChecked("ffmpeg", QStringList{"-v", "error"} + range + QStringList{"-i", source, "-c", "copy", root.file(name)});
        lines << QStringLiteral("file '%1'").arg(root.file(name));
    }
    writeFile(list, lines.join(u'\n').toUtf8() + '\n');
    runChecked("ffmpeg", {"-v", "error", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy", music + "/joined.flac"});
    open(music + "/joined.flac", 1);
    const auto playedToItsEnd = [&] {
        if (!press(window, QStringLiteral("Play")) || !pumpUntil([&] { return player().isPlaying(); }))
            return false;
        return pumpUntil([&] { return !player().isPlaying() && player().commands().lastCommand().isFinished(); },
                         std::chrono::seconds(30));
    };
    const auto refusedOnce = [&] {
        const bool refused = alerts->shown.size() == 1 && alerts->shown.first().title == QStringLiteral("Audio playback stopped")
                             && alerts->shown.first().message == QStringLiteral("The decoder encountered damaged or unreadable audio.");
        alerts->shown.clear();
        return refused;
    };

    ASSERT_TRUE(playedToItsEnd());
    EXPECT_TRUE(refusedOnce());
    EXPECT_LT(player().position(), 2.5);

    auto *position = named(window, QStringLiteral("Playback position"));
    ASSERT_NE(position, nullptr);
    click(position, QPoint(position->width() * 3 / 5, position->height() / 2));
    ASSERT_TRUE(pumpUntil([&] { return player().position() > 2.5 && player().commands().lastCommand().isFinished(); }));
    ASSERT_TRUE(playedToItsEnd());
    EXPECT_TRUE(alerts->shown.isEmpty());
    EXPECT_GT(player().position(), 4.9);

    ASSERT_TRUE(press(window, QStringLiteral("Return to playback start")));
    ASSERT_TRUE(pumpUntil([&] { return player().position() == 0 && player().commands().lastCommand().isFinished(); }));
    ASSERT_TRUE(playedToItsEnd());
    EXPECT_TRUE(refusedOnce());
}

TEST_F(Journey, RestoresFileAccessAfterAMove)
{
    writeTone(music + "/take.wav", 1);
    open(music + "/take.wav", 1);
    // Played and stopped, its waveform drawn: then moved away.
    auto *pane = qobject_cast<WaveformView *>(qobject_cast<ContentView *>(window->centralWidget())->waveformPane());
    ASSERT_TRUE(pumpUntil([&] { return !pane->statusText(); }));
    ASSERT_TRUE(press(window, QStringLiteral("Play")));
    ASSERT_TRUE(pumpUntil([&] { return player().isPlaying(); }));
    ASSERT_TRUE(press(window, QStringLiteral("Stop — retain position")));
    // Moved once the player has done what it was asked, as a user's move comes later.
    ASSERT_TRUE(pumpUntil([&] { return !player().isPlaying() && player().commands().lastCommand().isFinished(); }));
    const QString moved = root.file(QStringLiteral("elsewhere/deeper/take.wav"));
    QDir().mkpath(QFileInfo(moved).absolutePath());
    ASSERT_TRUE(QDir().rename(music + "/take.wav", moved));

    QAction *restore = app->commands()->restoreFileAccessAction();
    ASSERT_TRUE(pumpUntil([&] { return restore->isEnabled(); }));
    EXPECT_TRUE(alerts->shown.isEmpty()) << "before restoring";
    restore->trigger();
    ASSERT_TRUE(answerNextPanel(moved));
    EXPECT_TRUE(pumpUntil([&] { return player().tracks().first().url() == QUrl::fromLocalFile(moved); },
                          std::chrono::seconds(30)))
        << player().tracks().first().url().toString().toStdString();

    // It exports from where it is now.
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(press(sheet, QStringLiteral("Choose Destination…")));
    ASSERT_TRUE(answerNextPanel(out + "/take-export.wav"));
    EXPECT_TRUE(pumpUntil([&] { return decodedFrames(out + "/take-export.wav") == 48000; }));
}

TEST_F(Journey, AppliedSettingsAreStoredAndStartTheNextExport)
{
    ExportSettingsView *settings = openSettings();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(choose(settings->format(), QStringLiteral("flac")));
    ASSERT_TRUE(press(settings, QStringLiteral("Apply Settings")));
    EXPECT_TRUE(pumpUntil([&] { return settings->statusLine()->text() == QStringLiteral("Settings saved"); }));
    settings->window()->close();

    // Stored where the next launch reads them.
    QSettings stored;
    EXPECT_TRUE(stored.contains(QLatin1String(ExportPreferences::storageKey)));
    EXPECT_EQ(ExportPreferences(stored).defaults().format, ExportFormat::flac);

    writeTone(music + "/take.wav", 1);
    open(music + "/take.wav", 1);
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->findChild<ExportFormatControls *>()->format()->currentData().toString(), QStringLiteral("flac"));
}

TEST_F(Journey, SearchesTheManual)
{
    app->commands()->manualAction()->trigger();
    QWidget *manual = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (manual = app->windows().window(WindowId::manual)) && manual->isVisible(); }));
    QLineEdit *search = nullptr;
    for (QLineEdit *field : manual->findChildren<QLineEdit *>()) {
        if (field->placeholderText() == QStringLiteral("Search the manual"))
            search = field;
    }
    ASSERT_NE(search, nullptr);
    auto *list = manual->findChild<QListWidget *>();
    ASSERT_NE(list, nullptr);
    const int all = list->count();

    type(search, QStringLiteral("loop"));
    ASSERT_TRUE(pumpUntil([&] { return list->count() > 0 && list->count() < all; })) << list->count();
    click(list->viewport(), list->visualItemRect(list->item(0)).center());
    EXPECT_TRUE(pumpUntil([&] { return list->currentRow() == 0; }));

    type(search, QStringLiteral("qqqq"));
    EXPECT_TRUE(pumpUntil([&] {
        const QList<QLabel *> labels = manual->findChildren<QLabel *>();
        return list->count() == 0 && std::any_of(labels.begin(), labels.end(), [](const QLabel *label) {
                   return label->isVisible() && label->text() == QStringLiteral("No matching articles");
               });
    }));
}
