#include "views/kit/dialogs/open_panel.h"

#include "support/test_support.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileSystemModel>

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
