// Exports through the main window: one file through the save panel, a linked SD2 pair into a
// folder, and a batch into a folder, twice and then cancelled.
#include "journey.h"

#include "views/export_form/export_format_controls.h"
#include "views/library/library_row.h"

#include <QLabel>

using namespace tampod;
using namespace tampod::test;

namespace {

const QString chooseDestination = QStringLiteral("Choose Destination…");
const QString chooseFolder = QStringLiteral("Choose Folder…");

} // namespace

TEST_F(Journey, ExportsOneFileToFLACThroughTheSavePanel)
{
    writeTone(music + "/take.wav", 2);
    open(music + "/take.wav", 1);
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(choose(sheet->findChild<ExportFormatControls *>()->format(), QStringLiteral("flac")));
    ASSERT_TRUE(press(sheet, chooseDestination));

    QFileDialog *panel = awaitPanel();
    ASSERT_NE(panel, nullptr);
    // In the folder last chosen in a panel, not in the working folder.
    EXPECT_EQ(panel->directory().absolutePath(), music);
    ASSERT_TRUE(answerPanel(*panel, out + "/take-export.flac"));
    const QString written = out + "/take-export.flac";
    ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; }));
    EXPECT_EQ(filesIn(out), QStringList{QStringLiteral("take-export.flac")});
    EXPECT_EQ(decodedFrames(written), 2 * 48000); // at the default export rate
    ASSERT_TRUE(press(sheet, QStringLiteral("Done")));
    EXPECT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
}

TEST_F(Journey, AnM4AAverageKeptFromOlderSettingsExportsWithNothingChanged)
{
    ExportDefaults older;
    older.format = ExportFormat::m4aAAC;
    EncodingOptions options = EncodingOptions::initial(ExportFormat::m4aAAC);
    options.rateMode = BitRateMode::average;
    older.encodingByFormat[QStringLiteral("m4aAAC")] = options;
    ASSERT_TRUE(app->preferences().save(older));

    writeTone(music + "/take.wav", 2);
    open(music + "/take.wav", 1);
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(press(sheet, chooseDestination)) << "export refused";
    ASSERT_TRUE(answerNextPanel(out + "/take-export.m4a"));
    ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; }));
    EXPECT_EQ(filesIn(out), QStringList{QStringLiteral("take-export.m4a")});
    EXPECT_GT(decodedFrames(out + "/take-export.m4a"), 0);
}

TEST_F(Journey, ExportsALinkedPairAsSeparateMonoFilesIntoAFolder)
{
    const QString pair = root.file(QStringLiteral("pair"));
    QDir().mkpath(pair);
    writeSD2Channel(pair + "/Take.L", 44100);
    writeSD2Channel(pair + "/Take.R", 44100);
    open(pair, 2);

    // Both channel rows highlighted, then linked.
    clickCell(0, LibraryColumns::name);
    clickCell(1, LibraryColumns::name, Qt::ControlModifier);
    ASSERT_TRUE(press(window, QStringLiteral("Link L and R")));
    ASSERT_TRUE(pumpUntil([&] { return player().tracks().size() == 1 && player().tracks().first().pair; },
                          std::chrono::seconds(30)));
    clickCell(0, LibraryColumns::name);

    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    QComboBox *output = nullptr;
    for (auto *picker : sheet->findChildren<TaggedComboBox *>()) {
        if (picker->findData(QStringLiteral("Separate left/right mono files")) >= 0)
            output = picker;
    }
    ASSERT_TRUE(choose(output, QStringLiteral("Separate left/right mono files")));
    ASSERT_TRUE(press(sheet, chooseFolder));
    ASSERT_TRUE(answerNextPanel(out));
    ASSERT_TRUE(pumpUntil([&] { return filesIn(out).size() == 2 && button(sheet, QStringLiteral("Done")); },
                          std::chrono::seconds(30)))
        << filesIn(out).join(u',').toStdString();
    const QStringList written = filesIn(out);
    ASSERT_TRUE(written[0].endsWith(QStringLiteral(".L.wav")) && written[1].endsWith(QStringLiteral(".R.wav")))
        << written.join(u',').toStdString();
    for (const QString &name : written)
        EXPECT_EQ(decodedFrames(out + u'/' + name), 48000) << name.toStdString();
    ASSERT_TRUE(press(sheet, QStringLiteral("Done")));
}

TEST_F(Journey, ExportsCheckedRowsIntoAFolderAgainBesideThemAndCancelsMidway)
{
    const QStringList takes{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    for (const QString &take : takes)
        writeTone(music + u'/' + take + ".wav", 12);
    open(music, 3);
    for (int row = 0; row < 3; ++row)
        clickCell(row, LibraryColumns::exportCheck);

    const auto runBatch = [&](bool cancelMidway) -> QStringList {
        if (!press(window, QStringLiteral("Export Checked")))
            return {QStringLiteral("no Export Checked")};
        SheetDialog *sheet = awaitSheet();
        if (!sheet || !press(sheet, chooseFolder))
            return {QStringLiteral("no batch sheet")};
        QFileDialog *panel = awaitPanel();
        if (!panel)
            return {QStringLiteral("no folder panel")};
        if (cancelMidway) { // the folder chosen last time
            EXPECT_EQ(panel->directory().absolutePath(), out);
        }
        if (!answerPanel(*panel, out))
            return {QStringLiteral("panel not answered")};
        if (!pumpUntil([&] { return button(sheet, QStringLiteral("Cancel Batch")) || button(sheet, QStringLiteral("Done")); }))
            return {QStringLiteral("never started")};
        if (cancelMidway) {
            pumpUntil([&] {
                return rowStates(sheet).contains(QStringLiteral("Exporting")) || button(sheet, QStringLiteral("Done"));
            });
            press(sheet, QStringLiteral("Cancel Batch"));
        }
        pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; });
        const QStringList states = rowStates(sheet);
        press(sheet, QStringLiteral("Done"));
        pumpUntil([] { return Journey::sheet() == nullptr; });
        return states;
    };

    ASSERT_EQ(runBatch(false), QStringList(3, QStringLiteral("Saved")));
    EXPECT_EQ(filesIn(out), (QStringList{"a-export.wav", "b-export.wav", "c-export.wav"}));
    EXPECT_EQ(runBatch(false), QStringList(3, QStringLiteral("Saved")));
    EXPECT_EQ(filesIn(out), (QStringList{"a-export-2.wav", "a-export.wav", "b-export-2.wav", "b-export.wav",
                                         "c-export-2.wav", "c-export.wav"}));

    const QStringList states = runBatch(true);
    EXPECT_LT(states.count(QStringLiteral("Saved")), 3) << states.join(u',').toStdString();
    // Whatever was written under a final name is whole; nothing half-written is left anywhere.
    const QStringList written = filesIn(out);
    EXPECT_EQ(written.size(), 6 + states.count(QStringLiteral("Saved"))) << written.join(u',').toStdString();
    for (const QString &name : written)
        EXPECT_EQ(decodedFrames(out + u'/' + name), 12 * 48000) << name.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}
