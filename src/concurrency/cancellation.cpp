#include "concurrency/cancellation.h"

#include "core/error.h"

namespace tampod {

void detail::CancellationState::cancel()
{
    if (cancelled.exchange(true, std::memory_order_acq_rel))
        return;
    std::vector<std::weak_ptr<CancellationState>> toCancel;
    {
        std::lock_guard lock(mutex);
        toCancel.swap(children);
    }
    for (const auto &weak : toCancel) {
        if (auto child = weak.lock())
            child->cancel();
    }
}

bool CancellationToken::isCancelled() const noexcept
{
    return state_ && state_->cancelled.load(std::memory_order_acquire);
}

void CancellationToken::throwIfCancelled() const
{
    if (isCancelled())
        throw Cancelled();
}

CancellationSource::CancellationSource()
    : state_(std::make_shared<detail::CancellationState>())
{
}

CancellationSource::CancellationSource(const CancellationToken &parent)
    : CancellationSource()
{
    const auto &parentState = parent.state_;
    if (!parentState)
        return;
    {
        std::lock_guard lock(parentState->mutex);
        if (!parentState->cancelled.load(std::memory_order_acquire)) {
            // Drop links to children that are gone, so a long-lived parent does not grow.
            std::erase_if(parentState->children, [](const auto &weak) { return weak.expired(); });
            parentState->children.push_back(state_);
            return;
        }
    }
    state_->cancel();
}

namespace {
thread_local CancellationToken currentToken;
}

CurrentCancellation::Scope::Scope(CancellationToken token)
    : previous_(currentToken)
{
    currentToken = std::move(token);
}

CurrentCancellation::Scope::~Scope()
{
    currentToken = std::move(previous_);
}

const CancellationToken &CurrentCancellation::token()
{
    return currentToken;
}

} // namespace tampod
