#include "views/kit/dialogs/file_panels.h"

#include "support/test_support.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>

#include <gtest/gtest.h>

using namespace tampod;

TEST(OpenPanel, ChoosesFilesAndFoldersTogether)
{
    test::TempDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("loops"));
    test::writeFile(folder.file(QStringLiteral("a.wav")), "x");
    test::writeFile(folder.file(QStringLiteral("b.wav")), "x");

    OpenPanel panel(nullptr, QStringLiteral("Open Audio…"));
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
    RestorePanel panel(&window, QStringLiteral("Restore File Access"), message, QStringLiteral("Restore Access"));
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
