#include "concurrency/keyed_job_queue.h"

#include "concurrency/main_thread.h"
#include "concurrency/thread_role.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace tampod {

struct KeyedJobQueue::State : std::enable_shared_from_this<State> {
    struct Pending {
        QUuid key;
        Body body;
    };
    std::deque<Pending> pending; // front runs next
    TaskHandle running;          // empty while idle
    std::optional<QUuid> active; // set exactly while running is
    std::function<void(const QUuid &)> started;
    std::function<void()> activeChanged;

    void setActive(std::optional<QUuid> key)
    {
        if (active == key)
            return;
        active = key;
        if (activeChanged)
            activeChanged();
    }

    void startNext()
    {
        if (!running.isEmpty() || pending.empty())
            return;
        Pending next = std::move(pending.front());
        pending.pop_front();
        setActive(next.key);
        if (started)
            started(next.key);
        std::weak_ptr<State> weak = weak_from_this();
        running = TaskHandle::start([weak, body = std::move(next.body)](CancellationToken token) -> QCoro::Task<> {
            co_await NextMainThreadTurn{};
            std::exception_ptr error;
            if (!token.isCancelled()) {
                try {
                    // Awaited from a local: g++ 12 can release temporaries of a co_await operand twice.
                    auto job = body(token);
                    co_await job;
                } catch (...) {
                    error = std::current_exception();
                }
            }
            if (const auto self = weak.lock())
                self->ended();
            if (error)
                std::rethrow_exception(error);
        });
    }

    void ended()
    {
        running = {};
        setActive(std::nullopt);
        startNext();
    }
};

KeyedJobQueue::KeyedJobQueue() : state_(std::make_shared<State>()) {}

KeyedJobQueue::~KeyedJobQueue()
{
    state_->running.cancel();
}

void KeyedJobQueue::enqueue(const QUuid &key, Body body, Place place)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    State::Pending job{key, std::move(body)};
    if (place == Place::front)
        state_->pending.push_front(std::move(job));
    else
        state_->pending.push_back(std::move(job));
    state_->startNext();
}

void KeyedJobQueue::cancel(const QUuid &key)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    std::erase_if(state_->pending, [&key](const State::Pending &job) { return job.key == key; });
    if (state_->active == key)
        state_->running.cancel();
}

void KeyedJobQueue::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    state_->pending.clear();
    state_->running.cancel();
}

const std::optional<QUuid> &KeyedJobQueue::activeKey() const
{
    return state_->active;
}

void KeyedJobQueue::onStarted(std::function<void(const QUuid &)> hook)
{
    state_->started = std::move(hook);
}

void KeyedJobQueue::onActiveKeyChanged(std::function<void()> hook)
{
    state_->activeChanged = std::move(hook);
}

} // namespace tampod
