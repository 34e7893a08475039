#include "views/kit/dialogs/file_panels.h"

#include "core/native_path.h"

#include "support/panel_user.h"
#include "support/test_support.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QSettings>

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// Each kind of panel, answered the way a user does: a path typed into its name field and the
// accepting button pressed. Each answers once, with the typed choice.
TEST(DialogFilePanels, EveryKindAnswersWithWhatWasTyped)
{
    test::TempDir folder;
    QDir(folder.path()).mkdir(QStringLiteral("out"));
    test::writeFile(folder.file(QStringLiteral("a.wav")), "x");
    QSettings settings(folder.file(QStringLiteral("settings.ini")), QSettings::IniFormat);
    DialogFilePanels panels(settings);
    const QString out = folder.file(QStringLiteral("out"));
    const QString wav = folder.file(QStringLiteral("a.wav"));

    std::vector<QList<QUrl>> answers;
    const auto record = [&](const QList<QUrl> &urls) { answers.push_back(urls); };
    const auto answered = [&](const QString &typed) {
        answers.clear();
        const bool pressed = test::answerNextPanel(typed);
        test::pumpUntil([&] { return !answers.empty(); });
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(test::shownPanel(), nullptr);
        return pressed && answers.size() == 1 ? answers.front() : QList<QUrl>{QUrl(QStringLiteral("none"))};
    };

    OpenPanelOptions folders;
    folders.canChooseFiles = false;
    folders.canChooseFolders = true;
    panels.chooseFolder(folders, record);
    EXPECT_EQ(answered(out), QList<QUrl>{QUrl::fromLocalFile(out)});

    OpenPanelOptions files;
    panels.open(files, record);
    EXPECT_EQ(answered(wav), QList<QUrl>{QUrl::fromLocalFile(wav)});

    OpenPanelOptions both = folders;
    both.canChooseFiles = true;
    both.allowsMultipleSelection = true;
    panels.open(both, record);
    EXPECT_EQ(answered(wav), QList<QUrl>{QUrl::fromLocalFile(wav)});

    SavePanelOptions save;
    save.proposedName = QStringLiteral("take-export.flac");
    save.fileExtension = QStringLiteral("flac");
    panels.save(save, record);
    EXPECT_EQ(answered(folder.file(QStringLiteral("out/new"))),
              QList<QUrl>{QUrl::fromLocalFile(folder.file(QStringLiteral("out/new.flac")))});

    panels.restore({QStringLiteral("Restore File Access"), QStringLiteral("Restore Access"), {}}, record);
    EXPECT_EQ(answered(wav), QList<QUrl>{QUrl::fromLocalFile(wav)});
}

// The save and folder panels start where the user last chose, across launches, else at home:
// never in the process's working folder.
TEST(DialogFilePanels, SaveAndFolderPanelsStartInTheLastChosenFolder)
{
    test::TempDir folder;
    const QString out = folder.file(QStringLiteral("out"));
    QDir().mkpath(out);
    const QString settingsFile = folder.file(QStringLiteral("settings.ini"));
    const auto startsIn = [](const QString &path) {
        QFileDialog *panel = test::awaitPanel();
        const bool there = panel && QFileInfo(panel->directory().absolutePath()) == QFileInfo(path);
        if (panel)
            panel->reject();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return there;
    };
    OpenPanelOptions folders;
    folders.canChooseFiles = false;
    folders.canChooseFolders = true;
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        DialogFilePanels panels(settings);
        panels.save({}, {});
        EXPECT_TRUE(startsIn(QDir::homePath()));
        panels.chooseFolder(folders, {});
        ASSERT_TRUE(test::answerNextPanel(out));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The next launch.
    QSettings settings(settingsFile, QSettings::IniFormat);
    DialogFilePanels panels(settings);
    panels.save({}, {});
    EXPECT_TRUE(startsIn(out));
    panels.chooseFolder(folders, {});
    EXPECT_TRUE(startsIn(out));

    // A saved file's folder counts too; a folder gone since means home again.
    SavePanelOptions save;
    save.fileExtension = QStringLiteral("wav");
    panels.save(save, {});
    ASSERT_TRUE(test::answerNextPanel(folder.file(QStringLiteral("take.wav"))));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    panels.chooseFolder(folders, {});
    EXPECT_TRUE(startsIn(folder.path()));
    ASSERT_TRUE(QDir(out).removeRecursively());
    settings.setValue(QLatin1String(DialogFilePanels::lastFolderKey), out);
    panels.chooseFolder(folders, {});
    EXPECT_TRUE(startsIn(QDir::homePath()));

    // A folder whose name is not UTF-8, typed as the dialog shows it: the file chosen, the folder
    // kept and where the next launch starts all have its bytes.
    const QString odd = folder.path() + decodedPath("/d\xe9");
    ASSERT_EQ(::mkdir(encodedPath(odd).constData(), 0700), 0);
    QList<QUrl> chosen;
    panels.save(save, [&](const QList<QUrl> &urls) { chosen = urls; });
    ASSERT_TRUE(test::answerNextPanel(displayedPath(odd) + QStringLiteral("/take.wav")));
    ASSERT_TRUE(test::pumpUntil([&] { return !chosen.isEmpty(); }));
    EXPECT_EQ(chosen, QList<QUrl>{QUrl::fromLocalFile(odd + QStringLiteral("/take.wav"))});
    settings.sync();
    const QString nextLaunch = folder.file(QStringLiteral("next.ini"));
    ASSERT_TRUE(QFile::copy(settingsFile, nextLaunch));
    QSettings nextSettings(nextLaunch, QSettings::IniFormat);
    EXPECT_EQ(DialogFilePanels(nextSettings).startFolder(), odd);
}
