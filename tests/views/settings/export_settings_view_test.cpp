// The settings window's form: what Apply stores, what closing drops, the levels that follow the
// stored defaults, and a save the settings folder refuses.
#include "views/export_form/export_resolution_controls.h"
#include "views/export_form/vinyl_controls.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/settings/export_settings_view.h"
#include "views/settings/settings_texts.h"

#include "app/alert_recorder.h"
#include "player/player_fakes.h"

#include "export/export_preferences.h"
#include "export/preview_audio_focus.h"
#include "player/player_model.h"
#include "views/kit/controls/tagged_combo_box.h"
#include "support/run_program.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDir>
#include <QAccessible>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tampod;
namespace T = SettingsText;

namespace {

// The view on the settings in file, as the application would open it.
struct SettingsWindow {
    explicit SettingsWindow(const QString &file) : storage(file, QSettings::IniFormat) {}

    QString status()
    {
        view.refresh();
        const QString shown = view.statusLine()->text();
        // A screen reader reads the status shown, under the status's own name.
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(view.statusLine());
        EXPECT_EQ(reader->text(QAccessible::Name).toStdString(), T::settingsStatus.toStdString());
        EXPECT_EQ(reader->text(QAccessible::Value).toStdString(), shown.toStdString());
        return shown;
    }
    void choose(TaggedComboBox *picker, const QString &tag) { Q_EMIT picker->activated(picker->findData(tag)); }
    void pressReturn()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(view.format(), &press);
    }

    QSettings storage;
    ExportPreferences preferences{storage};
    test::AlertRecorder alerts;
    PlayerModel player{std::make_shared<test::FakeEngine>(), std::make_shared<test::FakeImporter>(),
                       std::make_shared<test::LatchedRecovery>(), std::make_shared<test::FakeSections>(),
                       std::make_shared<test::LatchedAnalyzer>()};
    ExportSettingsView view{preferences, player, alerts};
};

class FakePreview final : public AudiblePreview {
public:
    void stop(const QString &message) override { stops.append(message); }
    TaskHandle runningTask() const override { return {}; }
    QStringList stops;
};

// A save into a file this process may not write: the edit stays unapplied and says why.
void expectRefusedSave(const QString &file)
{
    SettingsWindow settings(file);
    ExportSettingsView &view = settings.view;
    settings.choose(view.format(), QStringLiteral("flac"));
    settings.pressReturn();
    ASSERT_EQ(settings.alerts.shown.size(), 1);
    EXPECT_EQ(settings.alerts.shown[0].message, ExportPreferences::saveFailedText());
    EXPECT_EQ(settings.status(), T::unappliedChanges);
    EXPECT_TRUE(view.applyButton()->isEnabled());
    EXPECT_EQ(settings.preferences.defaults().format, ExportFormat::aiff);

    // A level is written at once; a refused write shows the same alert.
    HardwareSlider *level = view.resolution().vinyl()->vinylLevel();
    level->setValue((level->minimum() + level->maximum()) / 2);
    ASSERT_EQ(settings.alerts.shown.size(), 2);
    EXPECT_EQ(settings.alerts.shown[1].title, ExportPreferences::saveFailedTitle());
    EXPECT_EQ(settings.alerts.shown[1].message, ExportPreferences::saveFailedText());
}

} // namespace

TEST(ExportSettingsView, ReturnAppliesAndClosingDropsWhatWasNotApplied)
{
    test::TempDir dir;
    const QString file = dir.file(QStringLiteral("tamPOD.conf"));
    SettingsWindow settings(file);
    ExportSettingsView &view = settings.view;
    settings.pressReturn(); // nothing to apply
    EXPECT_FALSE(settings.storage.contains(ExportPreferences::storageKey));

    settings.choose(view.format(), QStringLiteral("flac"));
    EXPECT_EQ(settings.status(), T::unappliedChanges);
    settings.pressReturn();
    EXPECT_EQ(settings.status(), T::settingsSaved);
    EXPECT_FALSE(view.applyButton()->isEnabled());
    const QByteArray stored = QSettings(file, QSettings::IniFormat).value(ExportPreferences::storageKey).toByteArray();
    EXPECT_EQ(ExportDefaults::decode(stored).format, ExportFormat::flac);

    // A level stored by a slider anywhere is taken into the draft; other edits stay as they are.
    settings.choose(view.sampleRate(), QStringLiteral("44100"));
    ASSERT_TRUE(settings.preferences.rememberLevel(55, &VinylOptions::amount));
    ExportDefaults expected = settings.preferences.defaults();
    expected.sampleRate = 44100;
    EXPECT_EQ(view.draft(), expected);

    // Closing silences the audible preview and forgets the edit.
    FakePreview preview;
    PreviewAudioFocus::shared().take(&preview);
    view.windowClosed();
    PreviewAudioFocus::shared().release(&preview);
    EXPECT_EQ(preview.stops, QStringList{QString()});
    EXPECT_EQ(settings.status(), T::settingsSaved);
    ASSERT_TRUE(settings.preferences.rememberLevel(5, &VinylOptions::humAmount));
    EXPECT_EQ(settings.status(), T::settingsSaved);
}

TEST(ExportSettingsView, UnavailableFormatAndFormatDetails)
{
    test::TempDir dir;
    const QString file = dir.file(QStringLiteral("tamPOD.conf"));
    QSettings(file, QSettings::IniFormat)
        .setValue(ExportPreferences::storageKey, QByteArray(R"({"format":"mp3","bitDepth":16,"sampleRate":44100})"));
    SettingsWindow settings(file);
    ExportSettingsView &view = settings.view;
    EXPECT_EQ(view.format()->itemText(0), QString::fromUtf8("MP3 \u2014 saved, unavailable"));
    EXPECT_EQ(view.format()->currentIndex(), 0);
    EXPECT_FALSE(view.sampleRate()->isEnabled());
    EXPECT_FALSE(view.formatDetailsToggle()->isVisibleTo(&view));
    EXPECT_FALSE(view.bitDepthNote()->isHidden());

    settings.choose(view.format(), QStringLiteral("flac"));
    view.refresh();
    EXPECT_TRUE(view.formatDetailsToggle()->isVisibleTo(&view));
    EXPECT_FALSE(view.formatDescription()->isVisibleTo(&view));
    view.formatDetailsToggle()->click();
    EXPECT_TRUE(view.formatDescription()->isVisibleTo(&view));
    EXPECT_EQ(view.formatDescription()->text(), T::flacDescription);
    EXPECT_TRUE(view.formatNotes()->isVisibleTo(&view) && !view.formatNotes()->text().isEmpty());
    EXPECT_TRUE(view.bitDepthNote()->isHidden());
}

// Root writes everywhere, so as root the save runs in a child with the ids of "nobody".
TEST(ExportSettingsView, ReadOnlySettingsFileKeepsTheChangesUnapplied)
{
    if (const QByteArray probe = qgetenv("TAMPOD_SETTINGS_VIEW_PROBE"); !probe.isEmpty()) {
        expectRefusedSave(QFile::decodeName(probe));
        if (!::testing::Test::HasFailure())
            std::fputs("settings-view-probe-passed\n", stdout);
        return;
    }
    test::TempDir dir;
    const QString folder = dir.file(QStringLiteral("tamPOD")), file = folder + QStringLiteral("/tamPOD.conf");
    ASSERT_TRUE(QDir().mkpath(folder));
    QSettings(file, QSettings::IniFormat)
        .setValue(ExportPreferences::storageKey, QByteArray(R"({"format":"aiff","bitDepth":16,"sampleRate":44100})"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), ::geteuid() == 0 ? 0755 : 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    if (::geteuid() != 0) {
        expectRefusedSave(file);
    } else {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAMPOD_SETTINGS_VIEW_PROBE"), file);
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        const QStringList arguments{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                    QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                                    QStringLiteral("--gtest_filter=ExportSettingsView.ReadOnlySettingsFileKeepsTheChangesUnapplied")};
        const test::ProgramRun child = test::runProgram(QStringLiteral("setpriv"), arguments, environment);
        EXPECT_TRUE(child.succeeded && child.output.contains("settings-view-probe-passed"))
            << child.described(QStringLiteral("setpriv"), arguments) << child.output.constData();
    }
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

TEST(ExportSettingsView, ApplyWaitsWhileTheDraftHasIssues)
{
    test::TempDir dir;
    SettingsWindow settings(dir.file(QStringLiteral("tamPOD.conf")));
    ExportSettingsView &view = settings.view;
    settings.choose(view.sampleRate(), QStringLiteral("96000"));
    settings.choose(view.format(), QStringLiteral("m4aAAC")); // AAC offers 44.1 and 48 kHz only
    ASSERT_FALSE(view.draft().validationIssues().isEmpty());
    view.refresh();
    EXPECT_FALSE(view.applyButton()->isEnabled());
    settings.pressReturn();
    EXPECT_FALSE(settings.storage.contains(ExportPreferences::storageKey));

    settings.choose(view.sampleRate(), QStringLiteral("48000"));
    view.refresh();
    EXPECT_TRUE(view.applyButton()->isEnabled());
}
