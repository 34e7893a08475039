#include "export/export_preferences.h"

#include "support/run_program.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace tampod;

namespace {

void store(const QString &file, const QVariant &value)
{
    QSettings(file, QSettings::IniFormat).setValue(ExportPreferences::storageKey, value);
}

ExportDefaults reread(const QString &file)
{
    QSettings storage(file, QSettings::IniFormat);
    return ExportPreferences(storage).defaults();
}

// Saving into a settings folder this process may not write must fail, never pass as saved.
void expectSaveFails(const QString &file)
{
    QSettings storage(file, QSettings::IniFormat);
    ExportPreferences preferences(storage);
    ExportDefaults changed = preferences.defaults();
    EXPECT_EQ(changed.sampleRate, 44100);
    changed.bitDepth = 24;
    EXPECT_FALSE(preferences.save(changed));
    EXPECT_FALSE(preferences.rememberLevel(50, &VinylOptions::amount));
    EXPECT_TRUE(preferences.rememberLevel(50, &VinylOptions::amount)); // nothing to write
    EXPECT_EQ(ExportPreferences::saveFailedText(),
              QString::fromUtf8("Settings couldn\u2019t be saved. Check that your settings folder can be written, then try again."));
}

} // namespace

TEST(ExportPreferences, SettingsRoundTripAndFailedSaves)
{
    test::TempDir dir;
    const QString folder = dir.file("config"), file = folder + "/tamPOD.conf";
    test::writeFile(folder, "a file where the settings folder belongs");
    QSettings storage(file, QSettings::IniFormat);
    ExportPreferences preferences(storage);
    EXPECT_EQ(preferences.defaults(), ExportDefaults());
    int changes = 0;
    QObject::connect(&preferences, &ExportPreferences::defaultsChanged, [&] { ++changes; });
    ExportDefaults record;
    record.format = ExportFormat::mp3;
    record.vinyl.seed = 0x8000000000000001ULL;
    EXPECT_FALSE(preferences.save(record));
    // A failed write must not make the saves after it look failed (or succeeded) too.
    ASSERT_TRUE(QFile::remove(folder) && QDir().mkpath(folder));
    EXPECT_TRUE(preferences.save(record));
    EXPECT_TRUE(preferences.rememberLevel(101, &VinylOptions::humAmount));
    EXPECT_TRUE(preferences.rememberLevel(15, &VinylOptions::humAmount));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(preferences.rememberLevel(0, &VinylOptions::humAmount));
    EXPECT_EQ(changes, 2);
    record.vinyl.humAmount = 0;
    // Loaded as saved, with the issue that keeps it from being used.
    EXPECT_EQ(reread(file), record);
    EXPECT_EQ(reread(file).validationIssues().size(), 1);
}

TEST(ExportPreferences, BadEntryGivesDefaultsUntilTheNextSave)
{
    test::TempDir dir;
    const QString file = dir.file("tamPOD.conf");
    const QVariant badEntries[] = {QByteArray("not json"), QByteArray(R"({"format":"wav","bitDepth":24})"), 5, QStringList{"a"},
                                   QByteArray(R"({"format":"wav","bitDepth":24,"sampleRate":1.5})"), QByteArray("\xff\xfe"), QVariant()};
    for (const QVariant &bad : badEntries) {
        if (bad.isValid())
            store(file, bad);
        else // a value Qt cannot even load
            test::writeFile(file, "[General]\nexportDefaults.v1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xffQ)\n");
        const QByteArray before = test::readAll(file);
        QSettings storage(file, QSettings::IniFormat);
        ExportPreferences preferences(storage);
        EXPECT_EQ(preferences.defaults(), ExportDefaults()) << bad.toString().toStdString();
        EXPECT_TRUE(preferences.rememberLevel(30, &VinylOptions::amount) && preferences.rememberLevel(-1, &VinylOptions::amount));
        EXPECT_EQ(test::readAll(file), before);
    }
    QSettings storage(file, QSettings::IniFormat);
    EXPECT_TRUE(ExportPreferences(storage).rememberLevel(40, &VinylOptions::amount));
    ExportDefaults expected;
    expected.vinyl.amount = 40;
    EXPECT_EQ(reread(file), expected);
}

// Root writes everywhere, so as root the save runs in a child with the ids of "nobody".
TEST(ExportPreferences, UnwritableSettingsFolderFailsVisibly)
{
    if (const QByteArray probe = qgetenv("TAMPOD_SETTINGS_PROBE"); !probe.isEmpty()) {
        expectSaveFails(QFile::decodeName(probe));
        if (!::testing::Test::HasFailure())
            std::fputs("settings-probe-passed\n", stdout);
        return;
    }
    test::TempDir dir;
    const QString folder = dir.file("tamPOD"), file = folder + "/tamPOD.conf";
    ASSERT_TRUE(QDir().mkpath(folder));
    store(file, QByteArray(R"({"format":"aiff","bitDepth":16,"sampleRate":44100})"));
    const QByteArray before = test::readAll(file);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), ::geteuid() == 0 ? 0755 : 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    if (::geteuid() != 0) {
        expectSaveFails(file);
    } else {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TAMPOD_SETTINGS_PROBE", file);
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        const QStringList arguments{"--reuid=65534", "--regid=65534", "--clear-groups",
                                    QCoreApplication::applicationFilePath(),
                                    "--gtest_filter=ExportPreferences.UnwritableSettingsFolderFailsVisibly"};
        const test::ProgramRun child = test::runProgram("setpriv", arguments, environment);
        EXPECT_TRUE(child.succeeded && child.output.contains("settings-probe-passed"))
            << child.described("setpriv", arguments) << child.output.constData();
    }
    EXPECT_EQ(test::readAll(file), before);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}
