#include "views/kit/dialogs/file_panels.h"

#include "support/test_support.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

using namespace tampod;

TEST(OpenPanel, ChoosesFilesAndFoldersTogether)
{
    test::TempDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("loops"));
    test::writeFile(folder.file(QStringLiteral("a.wav")), "x");
    test::writeFile(folder.file(QStringLiteral("b.wav")), "x");

    OpenPanelOptions options;
    options.text.title = QStringLiteral("Open Audio…");
    options.canChooseFolders = true;
    options.allowsMultipleSelection = true;
    OpenPanel panel(nullptr, options);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Open Audio…"));
    panel.setDirectory(folder.path());
    panel.show();
    auto *view = panel.findChild<QAbstractItemView *>(QStringLiteral("listView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(test::pumpUntil([&] { return view->model()->rowCount(view->rootIndex()) == 3; }));
    const auto *files = qobject_cast<const QFileSystemModel *>(view->model());
    ASSERT_NE(files, nullptr);
    for (const QString &name : {QStringLiteral("b.wav"), QStringLiteral("loops")})
        view->selectionModel()->select(files->index(folder.file(name)),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    panel.accept();
    EXPECT_EQ(panel.result(), QDialog::Accepted);
    // Folders first, as the panel lists them.
    EXPECT_EQ(panel.chosen(), (QList<QUrl>{QUrl::fromLocalFile(folder.file(QStringLiteral("loops"))),
                                           QUrl::fromLocalFile(folder.file(QStringLiteral("b.wav")))}));
}

TEST(RestorePanel, OneExistingFileUnderTheMessage)
{
    const QString message = "Select the original file loaded as <b>take</b>.wav.";
    QWidget window;
    RestorePanel panel(&window, {QStringLiteral("Restore File Access"), QStringLiteral("Restore Access"), message});
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Restore File Access"));
    EXPECT_EQ(panel.labelText(QFileDialog::Accept), QStringLiteral("Restore Access"));
    EXPECT_EQ(panel.fileMode(), QFileDialog::ExistingFile);
    EXPECT_TRUE(panel.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(panel.windowModality(), Qt::WindowModal);

    const auto *label = panel.findChild<QLabel *>(QStringLiteral("message"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), message);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    auto *grid = qobject_cast<QGridLayout *>(panel.layout());
    ASSERT_NE(grid, nullptr);
    const auto rowOf = [&](QWidget *widget) {
        int row = -1, column, rows, columns;
        grid->getItemPosition(grid->indexOf(widget), &row, &column, &rows, &columns);
        return row;
    };
    EXPECT_EQ(rowOf(const_cast<QLabel *>(label)), 0);
    EXPECT_EQ(rowOf(panel.findChild<QLabel *>(QStringLiteral("lookInLabel"))), 1);
}

TEST(OpenPanel, FoldersOnly)
{
    OpenPanelOptions options;
    options.canChooseFiles = false;
    options.canChooseFolders = true;
    OpenPanel panel(nullptr, options);
    EXPECT_EQ(panel.fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(panel.testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(panel.testOption(QFileDialog::ReadOnly)); // no new folders unless asked
}

TEST(SavePanel, OneNewFileOfOneTypeWithoutTheReplaceQuestion)
{
    test::TempDir folder;
    test::writeFile(folder.file(QStringLiteral("take-export.wav")), "x");
    SavePanelOptions options;
    options.text = {QStringLiteral("Export Entire Audio File"), QStringLiteral("Export"), QStringLiteral("Choose a new filename.")};
    options.proposedName = QStringLiteral("take-export.wav");
    options.fileExtension = QStringLiteral("wav");
    auto *panel = new SavePanel(nullptr, options);
    EXPECT_EQ(panel->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), QStringLiteral("Export"));
    EXPECT_EQ(panel->nameFilters(), QStringList{QStringLiteral("*.wav")});
    EXPECT_TRUE(panel->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_FALSE(panel->testOption(QFileDialog::ReadOnly));
    ASSERT_NE(panel->findChild<QLabel *>(QStringLiteral("message")), nullptr);

    std::vector<QList<QUrl>> answers;
    DialogFilePanels::answerOnce(panel, [&](const QList<QUrl> &urls) { answers.push_back(urls); });
    QPointer<SavePanel> alive(panel);
    panel->setDirectory(folder.path());
    panel->selectFile(QStringLiteral("take-export.wav"));
    static_cast<QDialog *>(panel)->accept(); // an existing file: no question, the caller refuses it
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], QList<QUrl>{QUrl::fromLocalFile(folder.file(QStringLiteral("take-export.wav")))});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alive); // the finished panel deletes itself
    EXPECT_EQ(answers.size(), 1u);
}

TEST(DialogFilePanels, ACancelledOrVanishedPanelAnswersNoneOnce)
{
    std::vector<QList<QUrl>> answers;
    const auto record = [&](const QList<QUrl> &urls) { answers.push_back(urls); };
    auto *cancelled = new RestorePanel(nullptr, {});
    DialogFilePanels::answerOnce(cancelled, record);
    cancelled->reject();
    cancelled->reject();
    EXPECT_EQ(answers, std::vector<QList<QUrl>>(1));

    // Gone with its window before it finished.
    auto window = std::make_unique<QWidget>();
    DialogFilePanels::answerOnce(new RestorePanel(window.get(), {}), record);
    window.reset();
    EXPECT_EQ(answers, std::vector<QList<QUrl>>(2));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
