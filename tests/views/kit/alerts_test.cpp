#include "views/kit/accessibility/view_accessibility.h"
#include "views/kit/dialogs/alert_dialog.h"
#include "views/main/sd2_depth_warning.h"
#include "views/main/warning_presenter.h"

#include "sd2/sd2_recovery_failure.h"

#include "support/snapshot.h"
#include "support/test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

// Answers each alert with the next scripted button (-1: closed) and keeps what it showed.
struct Script {
    QList<int> answers;
    struct Seen {
        QString title, message;
        QStringList buttons;
        std::optional<QString> accessory;
    };
    QList<Seen> seen;

    WarningPresenter presenter()
    {
        return WarningPresenter({}, [this](AlertDialog &dialog) {
            QStringList buttons;
            for (const QPushButton *button : dialog.buttons())
                buttons.append(button->text());
            seen.append({dialog.title(), dialog.message(), buttons,
                          dialog.accessory() ? std::optional(dialog.accessory()->toPlainText()) : std::nullopt});
            return answers.isEmpty() ? -1 : answers.takeFirst();
        });
    }
};

} // namespace

TEST(WarningPresenter, WarningsJoinDetailsByBlankLinesAsPlainText)
{
    Script script;
    WarningPresenter alerts = script.presenter();
    alerts.show(QStringLiteral("<b>a.wav</b>"), QStringLiteral("m"), {});
    alerts.show(QStringLiteral("t"), QStringLiteral("m"),
                {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    EXPECT_EQ(script.seen[0].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_FALSE(script.seen[0].accessory);
    EXPECT_EQ(script.seen[1].accessory, QStringLiteral("one\n\ntwo\n\nthree"));

    const auto built = alerts.warningAlert(QStringLiteral("<b>a.wav</b>"), QStringLiteral("m"), {QStringLiteral("x")});
    EXPECT_EQ(built->accessory()->size(), QSize(420, 180));
    EXPECT_TRUE(built->accessory()->isReadOnly());
    for (const QLabel *label : built->findChildren<QLabel *>()) // file names are never markup
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST(WarningPresenter, QuestionsAnswerOnlyTheirOwnButton)
{
    Script script;
    WarningPresenter alerts = script.presenter();
    // Quit: "Quit" (0) quits; "Cancel" or closing does not.
    script.answers = {0, 1, -1};
    EXPECT_TRUE(alerts.confirmQuit());
    EXPECT_FALSE(alerts.confirmQuit());
    EXPECT_FALSE(alerts.confirmQuit());
    EXPECT_EQ(script.seen[0].title, QStringLiteral("Quit tamPOD?"));
    EXPECT_EQ(script.seen[0].message, QStringLiteral("Playback will stop and the current file list will close."));
    EXPECT_EQ(script.seen[0].buttons, (QStringList{QStringLiteral("Quit"), QStringLiteral("Cancel")}));
    EXPECT_EQ(alerts.quitAlert()->defaultButton(), 0);
    EXPECT_EQ(alerts.quitAlert()->escapeButton(), 1);

    // Depth trial: only "Try n-bit" (1) tries.
    script.seen.clear();
    script.answers = {1, 0, -1};
    EXPECT_TRUE(alerts.confirmRecoveryDepth(24));
    EXPECT_FALSE(alerts.confirmRecoveryDepth(24));
    EXPECT_FALSE(alerts.confirmRecoveryDepth(16));
    EXPECT_EQ(script.seen[0].title, QStringLiteral("Try 24-bit interpretation?"));
    EXPECT_EQ(script.seen[0].buttons, (QStringList{QStringLiteral("Cancel"), QStringLiteral("Try 24-bit")}));
    EXPECT_TRUE(script.seen[0].message.endsWith(
        QStringLiteral("Trying 8-, 24- or 32-bit caps the app’s listening volume at 5% or keeps it lower. Reselecting "
                       "16-bit restores your previous volume once that interpretation is ready. Raise it gradually "
                       "only after checking the sound. System volume and your output device are unchanged. Your "
                       "original file stays unchanged.")));
    EXPECT_EQ(script.seen[2].message,
              QStringLiteral(
                  "This file is missing its original audio settings. The wrong bit depth can turn the recording into "
                  "loud, full-scale white-noise-like sound, even when the file can be read without an error.\n\nThis "
                  "changes how the original bytes are read; it does not convert the recording to a different quality. "
                  "Cancel keeps your current interpretation and volume. Returning from a 24-bit trial restores your "
                  "previous listening volume once 16-bit is ready. Playback stays paused until you press Play. Your "
                  "original file stays unchanged."));
}

TEST(WarningPresenter, DepthTrialKeepsReturnAndFocusOnCancel)
{
    WarningPresenter alerts;
    // Shown for real, without a nested loop: Return and Escape both answer "Cancel".
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        const auto dialog = alerts.depthConfirmationAlert(SD2DepthWarning{24});
        dialog->open();
        ASSERT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() == dialog->buttons()[0]; }));
        EXPECT_FALSE(dialog->buttons()[1]->isDefault() || dialog->buttons()[1]->autoDefault());
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &press);
        EXPECT_EQ(dialog->clickedButton(), 0) << key;
        EXPECT_FALSE(dialog->isVisible());
    }
}

TEST(WarningPresenter, RecoveryExplanationTogglesAsFreshAlerts)
{
    SD2Metadata tried;
    tried.sampleBytes = 3;
    tried.sampleRate = 44100;
    tried.channels = 2;
    const SD2RecoveryFailure failed(std::make_exception_ptr(std::runtime_error("broken")), tried, std::nullopt);
    Script script;
    script.answers = {1, 1, 1, 0};
    WarningPresenter alerts = script.presenter();
    alerts.showRecovery(failed);
    ASSERT_EQ(script.seen.size(), 4);
    const QString show = QStringLiteral("Technical explanation");
    const QString hide = QStringLiteral("Hide technical explanation");
    const QList<std::pair<QString, bool>> expected{{show, false}, {hide, true}, {show, false}, {hide, true}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(script.seen[i].title, failed.title);
        EXPECT_EQ(script.seen[i].buttons, (QStringList{QStringLiteral("OK"), expected[i].first})) << i;
        EXPECT_EQ(script.seen[i].accessory, expected[i].second ? std::optional(failed.technicalExplanation)
                                                               : std::nullopt) << i;
    }
    const auto expanded = alerts.recoveryAlert(failed, true);
    EXPECT_EQ(expanded->accessory()->size(), QSize(440, 190));
    EXPECT_EQ(expanded->accessory()->accessibleName(), show);

    script.answers = {-1}; // Escape or the close button end it like "OK"
    script.seen.clear();
    alerts.showRecovery(failed);
    EXPECT_EQ(script.seen.size(), 1);
}

// A reader hears an alert's details: they are the alert's description, and Tab reaches them from
// the buttons, named by the message they detail, and leaves them again.
TEST(AlertDialog, ItsDetailsAreHeardAndReachedByTab)
{
    installAccessibleFactory();
    WarningPresenter alerts;
    const QStringList reasons{QStringLiteral("missing.wav — The file or folder is unavailable."),
                              QStringLiteral("bad_map.sd2 — SD2 resource metadata is damaged.")};
    const auto dialog = alerts.warningAlert(QStringLiteral("Some files couldn’t be loaded"),
                                            QStringLiteral("0 audio files were added. The following items were rejected:"),
                                            reasons);
    QAccessibleInterface *alert = QAccessible::queryAccessibleInterface(dialog.get());
    for (const QString &reason : reasons)
        EXPECT_TRUE(alert->text(QAccessible::Description).contains(reason)) << reason.toStdString();
    dialog->open();
    QPushButton *ok = dialog->buttons().first();
    ASSERT_TRUE(test::pumpUntil([&] { return QApplication::focusWidget() == ok; }));
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(ok, &tab);
    EXPECT_EQ(QApplication::focusWidget(), dialog->accessory());
    QAccessibleInterface *details = QAccessible::queryAccessibleInterface(dialog->accessory());
    EXPECT_EQ(details->text(QAccessible::Name), dialog->message());
    ASSERT_NE(details->textInterface(), nullptr);
    EXPECT_TRUE(details->textInterface()->text(0, details->textInterface()->characterCount()).startsWith(reasons[0]));
    QApplication::sendEvent(dialog->accessory(), &tab);
    EXPECT_EQ(QApplication::focusWidget(), ok);
    dialog->done(0);

    // A name of its own stays its name.
    const SD2RecoveryFailure failed(std::make_exception_ptr(std::runtime_error("broken")), SD2Metadata{}, std::nullopt);
    const auto explained = alerts.recoveryAlert(failed, true);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(explained->accessory())->text(QAccessible::Name),
              QStringLiteral("Technical explanation"));
}

TEST(AlertDialog, LooksLikeAnAlertAtEveryRatio)
{
    WarningPresenter alerts;
    const auto quit = alerts.quitAlert();
    const auto details = alerts.warningAlert(QStringLiteral("Some files couldn’t be loaded"),
                                             QStringLiteral("2 files were skipped."),
                                             {QStringLiteral("a.wav: unsupported"), QStringLiteral("b.aif: empty")});
    for (const auto &[dialog, name] : {std::pair{quit.get(), "alert-quit"}, std::pair{details.get(), "alert-details"}}) {
        dialog->show();
        // The first button stands rightmost; the caution sign at the top left.
        EXPECT_GE(dialog->buttons().first()->geometry().left(), dialog->buttons().last()->geometry().left());
        for (double ratio : {1.0, 2.0}) {
            const QImage image = test::render(*dialog, ratio, QString::fromLatin1(name));
            EXPECT_EQ(image.pixelColor(int(40 * ratio), int(70 * ratio)).rgb(), QColor::fromRgbF(1, 0.8f, 0).rgb());
        }
        dialog->hide();
    }
}
