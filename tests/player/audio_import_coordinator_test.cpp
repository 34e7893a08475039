#include "player/audio_import_coordinator.h"

#include "files/access/file_access_lease.h"
#include "player_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace tampod;

namespace {

class ImportQueue : public ::testing::Test {
protected:
    ImportQueue()
    {
        QObject::connect(queue.get(), &AudioImportCoordinator::pendingCountChanged,
                         [this] { counts.push_back(queue->pendingCount()); });
    }
    ~ImportQueue() override
    {
        importer->endAll();
        queue.reset();
        EXPECT_TRUE(test::pumpUntil([&] { return importer.use_count() == 1; }));
        EXPECT_EQ(FileAccessLease::activeCount(), leasesBefore);
    }

    static QUrl url(const QString &name) { return QUrl::fromLocalFile("/imports/" + name); }
    static AudioImportResult result(const QString &name) { return {{}, {{name, QStringLiteral("reason")}}}; }

    TaskHandle enqueue(const QString &name)
    {
        return queue->enqueue(
            {url(name)}, [this] { return existing; },
            [this](const AudioImportResult &r) {
                delivered.push_back(r.rejections.value(0).name);
                existing.insert(url(r.rejections.value(0).name));
            });
    }
    bool calls(size_t n) { return test::pumpUntil([&] { return importer->calls.size() == n; }); }

    const int leasesBefore = FileAccessLease::activeCount();
    std::shared_ptr<test::FakeImporter> importer = std::make_shared<test::FakeImporter>();
    std::unique_ptr<AudioImportCoordinator> queue = std::make_unique<AudioImportCoordinator>(importer);
    std::vector<int> counts;
    std::vector<QString> delivered;
    QSet<QUrl> existing;
};

} // namespace

TEST_F(ImportQueue, JobsRunOneAtATimeInOrderWhateverTheOutcomeOfThePreviousOne)
{
    EXPECT_TRUE(queue->enqueue({}, [] { return QSet<QUrl>(); }, [](const AudioImportResult &) {}).isEmpty());
    EXPECT_TRUE(counts.empty());

    enqueue("a");
    enqueue("b");
    const TaskHandle third = enqueue("c");
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(calls(1));
    // Access to the items lasts while their jobs are queued or running.
    EXPECT_EQ(FileAccessLease::activeCount(), leasesBefore + 3);

    importer->end(0, std::nullopt); // a broken import delivers nothing, and the next one still runs
    ASSERT_TRUE(calls(2));
    importer->end(1, result("b"));
    ASSERT_TRUE(calls(3));
    // The existing set is asked when a job starts, so it holds what earlier jobs added.
    EXPECT_EQ(importer->calls[2].excluding, QSet<QUrl>{url("b")});
    importer->end(2, result("c"));
    ASSERT_TRUE(test::pumpUntil([&] { return third.isFinished(); }));

    EXPECT_EQ(delivered, (std::vector<QString>{"b", "c"}));
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 3, 2, 1, 0}));
    EXPECT_EQ(importer->calls[0].urls, QList<QUrl>{url("a")});
    EXPECT_EQ(FileAccessLease::activeCount(), leasesBefore);
}

TEST_F(ImportQueue, CancelAllDropsLateResultsAndTheNextJobStartsAtOnce)
{
    const TaskHandle first = enqueue("a");
    const TaskHandle second = enqueue("b");
    ASSERT_TRUE(calls(1));
    queue->cancelAll();
    EXPECT_EQ(queue->pendingCount(), 0);
    EXPECT_TRUE(importer->calls[0].token.isCancelled());

    // Nothing waits for the cancelled jobs.
    enqueue("c");
    ASSERT_TRUE(calls(2));
    EXPECT_EQ(importer->calls[1].urls, QList<QUrl>{url("c")});
    EXPECT_EQ(queue->pendingCount(), 1);

    importer->end(0, result("a")); // finished by the importer after all: dropped
    ASSERT_TRUE(test::pumpUntil([&] { return first.isFinished() && second.isFinished(); }));
    EXPECT_TRUE(delivered.empty());
    // The cancelled jobs' endings leave the new job counted.
    EXPECT_EQ(queue->pendingCount(), 1);
    EXPECT_EQ(FileAccessLease::activeCount(), leasesBefore + 1);

    importer->end(1, result("c"));
    ASSERT_TRUE(test::pumpUntil([&] { return queue->pendingCount() == 0; }));
    EXPECT_EQ(delivered, std::vector<QString>{"c"});
    EXPECT_EQ(counts, (std::vector<int>{1, 2, 0, 1, 0}));
}

TEST_F(ImportQueue, AJobOfAQueueThatIsGoneDeliversNothing)
{
    enqueue("a");
    enqueue("b");
    ASSERT_TRUE(calls(1));
    queue.reset();
    EXPECT_TRUE(importer->calls[0].token.isCancelled());
    importer->end(0, result("a"));
    // The waiting job ends without reaching the importer.
    EXPECT_TRUE(test::pumpUntil([&] { return importer.use_count() == 1; }));
    EXPECT_EQ(importer->calls.size(), 1u);
    EXPECT_TRUE(delivered.empty());
}
