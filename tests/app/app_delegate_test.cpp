#include "alert_recorder.h"

#include "app/app_delegate.h"

#include "windows/main_window.h"

#include "support/test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace tampod;

namespace {

QList<QUrl> urls(std::initializer_list<const char *> paths)
{
    QList<QUrl> list;
    for (const char *path : paths)
        list.append(QUrl::fromLocalFile(QString::fromLatin1(path)));
    return list;
}

struct Harness {
    test::AlertRecorder alerts;
    AppDelegate delegate{alerts};
    QObject player;
    MainWindow window;
    QList<QList<QUrl>> imported;

    Harness() { window.show(); }
    void ready()
    {
        delegate.windowReady(&player, &window, [this](const QList<QUrl> &batch) { imported.append(batch); });
    }
};

} // namespace

TEST(AppDelegate, BatchesWaitForTheWindowThenImportInArrivalOrder)
{
    Harness h;
    h.delegate.open(urls({"/m/a.wav", "/m/b.wav"}));
    h.delegate.open(urls({"/m/c.wav"}));
    EXPECT_EQ(h.delegate.pendingBatches(), 2);
    EXPECT_TRUE(h.imported.isEmpty());

    h.window.showMinimized();
    h.ready();
    EXPECT_EQ(h.imported, (QList<QList<QUrl>>{urls({"/m/a.wav", "/m/b.wav"}), urls({"/m/c.wav"})}));
    EXPECT_EQ(h.delegate.pendingBatches(), 0);
    EXPECT_FALSE(h.window.isMinimized());

    // Later requests go through at once; an empty one only brings the window forward.
    h.window.showMinimized();
    h.delegate.open({});
    EXPECT_FALSE(h.window.isMinimized());
    EXPECT_EQ(h.imported.size(), 2);
    h.delegate.open(urls({"/m/d.wav"}));
    EXPECT_EQ(h.imported.last(), urls({"/m/d.wav"}));

    // A gone player keeps batches waiting.
    {
        auto player = std::make_unique<QObject>();
        h.delegate.windowReady(player.get(), &h.window, [&](const QList<QUrl> &b) { h.imported.append(b); });
    }
    h.delegate.open(urls({"/m/e.wav"}));
    EXPECT_EQ(h.delegate.pendingBatches(), 1);
    h.ready();
    EXPECT_EQ(h.imported.last(), urls({"/m/e.wav"}));
}

TEST(AppDelegate, LaunchNoticeOnlyForRecoveredOrPendingPairs)
{
    const struct {
        int recovered, pending;
        bool noReport;
        QString opening; // empty: no notice
    } cases[] = {
        // The notice's own texts are the files module's; here: which report shows which one.
        {2, 0, false, QStringLiteral("Recovery completed for 2 interrupted export(s).")},
        {0, 1, false, QStringLiteral("1 export(s) could not be safely cleaned up.")},
        {0, 0, false, {}},
        {0, 0, true, {}},
    };
    for (const auto &c : cases) {
        Harness h;
        bool finished = false;
        QObject::connect(&h.delegate, &AppDelegate::launchCleanupFinished, [&] { finished = true; });
        h.delegate.applicationDidFinishLaunching(
            [&]() -> QCoro::Task<std::optional<TemporaryAudioCleanup::Report>> {
                if (c.noReport)
                    co_return std::nullopt;
                TemporaryAudioCleanup::Report report;
                report.recoveredPairs = c.recovered;
                report.pendingPairs = c.pending;
                report.removed = 3;
                co_return report;
            });
        ASSERT_TRUE(test::pumpUntil([&] { return finished; }));
        if (c.opening.isEmpty()) {
            EXPECT_TRUE(h.alerts.shown.isEmpty()) << c.recovered << c.pending;
        } else {
            ASSERT_EQ(h.alerts.shown.size(), 1);
            EXPECT_EQ(h.alerts.shown[0].title, QStringLiteral("Interrupted split-channel export"));
            EXPECT_TRUE(h.alerts.shown[0].message.startsWith(c.opening));
            EXPECT_TRUE(h.alerts.shown[0].message.endsWith(
                QStringLiteral("\n\nYour source audio is unchanged. Completed export pairs are preserved.")));
            EXPECT_TRUE(h.alerts.shown[0].details.isEmpty());
        }
        EXPECT_TRUE(h.delegate.menuPolicy().isInstalled());
        EXPECT_FALSE(QApplication::windowIcon().isNull());
        h.delegate.applicationWillTerminate();
        EXPECT_FALSE(h.delegate.menuPolicy().isInstalled());
    }
}
