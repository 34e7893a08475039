#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tampod {

namespace detail {
struct CancellationState {
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::vector<std::weak_ptr<CancellationState>> children; // guarded by mutex
    void cancel();
};
} // namespace detail

// What a job checks between chunks. A default token is never cancelled.
// thread: any; the flag is atomic.
class CancellationToken {
public:
    CancellationToken() = default;

    bool isCancelled() const noexcept;
    void throwIfCancelled() const; // throws Cancelled

private:
    friend class CancellationSource;
    explicit CancellationToken(std::shared_ptr<detail::CancellationState> state)
        : state_(std::move(state)) {}
    std::shared_ptr<detail::CancellationState> state_;
};

// Owns a cancellation flag. A source made from a parent token is cancelled with its parent
// (at once when the parent is already cancelled); cancelling a child leaves the parent alone.
class CancellationSource {
public:
    CancellationSource();
    explicit CancellationSource(const CancellationToken &parent);

    CancellationToken token() const { return CancellationToken(state_); }
    void cancel() const { state_->cancel(); }
    bool isCancelled() const noexcept { return state_->cancelled.load(std::memory_order_acquire); }

private:
    std::shared_ptr<detail::CancellationState> state_;
};

// The token of "the current task" for synchronous code that cannot take one as a parameter
// (the tag readers). Set by a Scope for the duration of a call on the current thread.
class CurrentCancellation {
public:
    class Scope {
    public:
        explicit Scope(CancellationToken token);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        CancellationToken previous_;
    };

    static const CancellationToken &token();
    static bool isCancelled() { return token().isCancelled(); }
    static void throwIfCancelled() { token().throwIfCancelled(); }
};

} // namespace tampod
