#include "export/export_turn.h"

#include <chrono>
#include <utility>

namespace tampod {

void ExportTurn::Order::end(int sequence)
{
    {
        std::lock_guard lock(mutex_);
        if (sequence <= ended_)
            return;
        early_.insert(sequence);
        while (!early_.empty() && *early_.begin() == ended_ + 1) {
            early_.erase(early_.begin());
            ++ended_;
        }
    }
    changed_.notify_all();
}

void ExportTurn::Order::awaitEarlier(int sequence, const CancellationToken &token)
{
    std::unique_lock lock(mutex_);
    // A token tells no one when it is cancelled: look again at short intervals.
    while (ended_ < sequence - 1) {
        token.throwIfCancelled();
        changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
}

ExportTurn::ExportTurn(std::shared_ptr<Order> order, int sequence, std::function<void()> released)
    : order_(std::move(order)), sequence_(sequence), released_(std::move(released))
{
}

void ExportTurn::release()
{
    if (auto released = std::exchange(released_, {}))
        released();
}

void ExportTurn::end()
{
    order_->end(sequence_);
}

} // namespace tampod
