#include "export/export_preferences.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

using namespace tampod;

namespace {

const QByteArray savedRecord = R"({"format":"aiff","bitDepth":16,"sampleRate":44100})";

void store(const QString &file, const QVariant &value)
{
    QSettings storage(file, QSettings::IniFormat);
    storage.setValue(ExportPreferences::storageKey, value);
}

// Saving into a settings folder this process may not write must fail, never pass as saved.
void expectSaveFails(const QString &file)
{
    QSettings storage(file, QSettings::NativeFormat);
    ExportPreferences preferences(storage);
    EXPECT_EQ(preferences.defaults().sampleRate, 44100);
    ExportDefaults changed = preferences.defaults();
    changed.bitDepth = 24;
    EXPECT_FALSE(preferences.save(changed));
    EXPECT_FALSE(preferences.rememberLevel(50, &VinylOptions::amount));
    // Nothing to write is no failure.
    EXPECT_TRUE(preferences.rememberLevel(50, &VinylOptions::amount));
    EXPECT_EQ(ExportPreferences::saveFailedText(),
              QString::fromUtf8("Settings couldn\u2019t be saved. Check that your settings folder can be written, "
                                "then try again."));
}

} // namespace

TEST(ExportPreferences, SettingsRoundTrip)
{
    test::TempDir dir;
    const QString file = dir.file("tamPOD.conf");
    ExportDefaults record;
    record.format = ExportFormat::mp3;
    record.vinyl.seed = 0x8000000000000001ULL;
    {
        QSettings storage(file, QSettings::IniFormat);
        ExportPreferences preferences(storage);
        EXPECT_EQ(preferences.defaults(), ExportDefaults());
        int changes = 0;
        QObject::connect(&preferences, &ExportPreferences::defaultsChanged, [&] { ++changes; });
        EXPECT_TRUE(preferences.save(record));
        EXPECT_TRUE(preferences.save(record));
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(preferences.rememberLevel(101, &VinylOptions::humAmount));
        EXPECT_TRUE(preferences.rememberLevel(15, &VinylOptions::humAmount));
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(preferences.rememberLevel(0, &VinylOptions::humAmount));
        EXPECT_EQ(changes, 2);
        record.vinyl.humAmount = 0;
    }
    QSettings storage(file, QSettings::IniFormat);
    const ExportPreferences reread(storage);
    // Loaded as saved, with the issue that keeps it from being used.
    EXPECT_EQ(reread.defaults(), record);
    EXPECT_EQ(reread.defaults().validationIssues().size(), 1);
}

TEST(ExportPreferences, FailedSaveDoesNotTaintLaterSaves)
{
    test::TempDir dir;
    const QString folder = dir.file("config");
    test::writeFile(folder, "a file where the settings folder belongs");
    QSettings storage(folder + "/tamPOD.conf", QSettings::IniFormat);
    ExportPreferences preferences(storage);
    ExportDefaults record;
    record.bitDepth = 16;
    EXPECT_FALSE(preferences.save(record));
    ASSERT_TRUE(QFile::remove(folder) && QDir().mkpath(folder));
    record.sampleRate = 44100;
    EXPECT_TRUE(preferences.save(record));
    QSettings reread(folder + "/tamPOD.conf", QSettings::IniFormat);
    EXPECT_EQ(ExportPreferences(reread).defaults(), record);
}

TEST(ExportPreferences, BadEntryGivesDefaultsUntilTheNextSave)
{
    test::TempDir dir;
    const QString file = dir.file("tamPOD.conf");
    const QVariant badEntries[] = {QByteArray("not json"), QByteArray(R"({"format":"wav","bitDepth":24})"), 5,
                                   QByteArray(R"({"format":"wav","bitDepth":24,"sampleRate":1.5})"),
                                   QByteArray("\xff\xfe"), QStringList{"a", "b"}, QVariant()};
    for (const QVariant &bad : badEntries) {
        if (bad.isValid())
            store(file, bad);
        else // a value Qt cannot even read back
            test::writeFile(file, "[General]\nexportDefaults.v1=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xffQ)\n");
        const QByteArray before = test::readAll(file);
        QSettings storage(file, QSettings::IniFormat);
        ExportPreferences preferences(storage);
        EXPECT_EQ(preferences.defaults(), ExportDefaults()) << bad.toString().toStdString();
        EXPECT_TRUE(preferences.rememberLevel(30, &VinylOptions::amount));
        EXPECT_TRUE(preferences.rememberLevel(-1, &VinylOptions::amount));
        EXPECT_EQ(test::readAll(file), before) << bad.toString().toStdString();
    }
    {
        QSettings storage(file, QSettings::IniFormat);
        ExportPreferences preferences(storage);
        EXPECT_TRUE(preferences.rememberLevel(40, &VinylOptions::amount));
    }
    QSettings storage(file, QSettings::IniFormat);
    ExportDefaults expected;
    expected.vinyl.amount = 40;
    EXPECT_EQ(ExportPreferences(storage).defaults(), expected);
}

// Root writes everywhere, so as root the save runs in a child with the ids of "nobody".
TEST(ExportPreferences, UnwritableSettingsFolderFailsVisibly)
{
    const QByteArray probe = qgetenv("TAMPOD_SETTINGS_PROBE");
    if (!probe.isEmpty()) {
        expectSaveFails(QFile::decodeName(probe));
        if (!::testing::Test::HasFailure())
            std::fputs("settings-probe-passed\n", stdout);
        return;
    }
    test::TempDir dir;
    const QString folder = dir.file("tamPOD");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + "/tamPOD.conf";
    store(file, savedRecord);
    const QByteArray before = test::readAll(file);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), ::geteuid() == 0 ? 0755 : 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    if (::geteuid() != 0) {
        expectSaveFails(file);
    } else {
        QProcess child;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TAMPOD_SETTINGS_PROBE", file);
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
        child.setProcessEnvironment(environment);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QCoreApplication::applicationFilePath(),
                                "--gtest_filter=ExportPreferences.UnwritableSettingsFolderFailsVisibly"});
        ASSERT_TRUE(child.waitForFinished(60'000));
        const QByteArray output = child.readAllStandardOutput() + child.readAllStandardError();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("settings-probe-passed")) << output.constData();
    }
    EXPECT_EQ(test::readAll(file), before);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}
