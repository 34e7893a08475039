#include "help/help_illustration.h"
#include "views/settings/export_settings_view.h"
#include "windows/main_window.h"

#include <QDir>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

// Figures of the whole main window, of the whole export sheet and of the whole settings window;
// the rest show one block of the sheet.
const QSet<QString> mainWindowFigures = {
    QStringLiteral("Manual_main_gui"),       QStringLiteral("Manual_loop_song"),
    QStringLiteral("Manual_loop_selection"), QStringLiteral("Manual_linked_sd2"),
    QStringLiteral("Manual_export_checked"), QStringLiteral("Manual_export_selected")};
const QSet<QString> sheetFigures = {QStringLiteral("Manual_export_options"),
                                    QStringLiteral("Manual_sd2pair_export_options")};
const QString settingsFigure = QStringLiteral("Manual_tamPOD_settings");

bool hasTwoColours(const QImage &image)
{
    const QImage pixels = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb first = pixels.pixel(0, 0);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (line[x] != first)
                return true;
        }
    }
    return false;
}

// The tool's figures, by resource name, with the design size it reports for each.
struct FigureRun {
    QTemporaryDir folder;
    QHash<QString, QSize> designSizes;
};

FigureRun &figures()
{
    static FigureRun run = [] {
        FigureRun made;
        QProcess tool;
        tool.start(QStringLiteral(MANUAL_FIGURES), {made.folder.path()});
        // The tool waits for every state it draws, as long as a busy machine needs; this waits
        // for the tool until shortly before the test's own limit, so that what it said is shown.
        const bool finished = tool.waitForFinished(540'000);
        if (!finished)
            tool.kill();
        tool.waitForFinished();
        EXPECT_TRUE(finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0)
            << tool.readAllStandardError().toStdString();
        for (const QByteArray &line : tool.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            const QList<QByteArray> size = fields.value(1).split('x');
            if (fields.size() == 2 && size.size() == 2 && fields[0].endsWith(".png"))
                made.designSizes.insert(QString::fromUtf8(fields[0].chopped(4)),
                                        QSize(size[0].toInt(), size[1].toInt()));
        }
        return made;
    }();
    return run;
}

TEST(ManualFigures, WritesEveryCataloguedFigureAndNothingElse)
{
    FigureRun &run = figures();
    QSet<QString> expected;
    for (const HelpIllustration &figure : HelpIllustration::all())
        expected.insert(figure.resourceName);
    ASSERT_EQ(expected.size(), 13);
    QSet<QString> written;
    for (const QString &file : QDir(run.folder.path()).entryList(QDir::Files))
        written.insert(file.endsWith(QStringLiteral(".png")) ? file.chopped(4) : file);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(QSet<QString>(run.designSizes.keyBegin(), run.designSizes.keyEnd()), expected);
}

TEST(ManualFigures, EachImageIsTwiceItsDesignSizeAndNotBlank)
{
    FigureRun &run = figures();
    const QSize sheet = run.designSizes.value(QStringLiteral("Manual_export_options"));
    ASSERT_FALSE(sheet.isEmpty());
    for (auto entry = run.designSizes.cbegin(); entry != run.designSizes.cend(); ++entry) {
        SCOPED_TRACE(entry.key().toStdString());
        const QImage image(QDir(run.folder.path()).filePath(entry.key() + QStringLiteral(".png")));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), entry.value() * 2);
        EXPECT_TRUE(hasTwoColours(image));
        if (mainWindowFigures.contains(entry.key()))
            EXPECT_EQ(entry.value(), MainWindow::contentSize());
        else if (sheetFigures.contains(entry.key()))
            EXPECT_EQ(entry.value(), sheet);
        else if (entry.key() == settingsFigure)
            EXPECT_EQ(entry.value(), ExportSettingsView::contentSize);
        else
            EXPECT_LT(entry.value().width(), sheet.width()) << "a block lies inside the sheet";
    }
}

// The committed figures are remade by the tool: a view whose size changed makes them stale.
TEST(ManualFigures, CommittedFiguresMatchTheToolsSizes)
{
    FigureRun &run = figures();
    const QDir committed(QStringLiteral(COMMITTED_FIGURES));
    for (auto entry = run.designSizes.cbegin(); entry != run.designSizes.cend(); ++entry) {
        SCOPED_TRACE(entry.key().toStdString());
        const QImage image(committed.filePath(entry.key() + QStringLiteral(".png")));
        EXPECT_EQ(image.size(), entry.value() * 2) << "run tools/manual_figures into " << committed.path().toStdString();
    }
}

} // namespace
