#pragma once

#include "concurrency/cancellation.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace tampod {

// The place of one export in a batch whose exports overlap. Once its checks have passed and its
// work begins, the exporter calls release(), and the batch may begin the next export (up to
// atOnce at a time): they use several cores, and none waits for another's flushes, which the
// file system also commits together. It publishes only after
// awaitTurn(), which returns once every earlier export of the batch has ended, and calls end()
// when it ends, whatever the outcome. Files thus appear in the batch's order, and a cancelled
// batch stops every export in flight before its publication.
class ExportTurn {
public:
    // Exports of one batch underway at once; the exporter has a worker for each.
    static constexpr int atOnce = 4;

    // The exports of one batch, numbered from 1 in the order they started.
    class Order {
    public:
        // Marks an export ended; repeated calls do nothing.
        void end(int sequence);
        // Blocks until every export before sequence has ended; Cancelled once token is.
        void awaitEarlier(int sequence, const CancellationToken &token);

    private:
        std::mutex mutex_;
        std::condition_variable changed_;
        int ended_ = 0;       // thread: under mutex_; every export up to it has ended
        std::set<int> early_; // thread: under mutex_; ended while one before it had not
    };

    // released is called once, on the exporter's worker, and must not block.
    ExportTurn(std::shared_ptr<Order> order, int sequence, std::function<void()> released);

    int sequence() const { return sequence_; }
    void release();
    void awaitTurn(const CancellationToken &token) const { order_->awaitEarlier(sequence_, token); }
    void end();

private:
    const std::shared_ptr<Order> order_;
    const int sequence_;
    std::function<void()> released_; // thread: the exporter's worker; cleared once called
};

} // namespace tampod
