#include "concurrency/serial_job_queue.h"

#include "concurrency/thread_role.h"

#include <exception>
#include <utility>

namespace tampod {

struct SerialJobQueue::State {
    std::uint64_t generation = 0;
    std::uint64_t lastID = 0;
    std::map<std::uint64_t, TaskHandle> jobs; // this generation's unfinished jobs
    TaskHandle tail;
    std::uint64_t tailID = 0;
    std::function<void()> countChanged;

    void finish(std::uint64_t id)
    {
        const bool counted = jobs.erase(id) > 0;
        if (tailID == id) {
            tail = {};
            tailID = 0;
        }
        if (counted && countChanged)
            countChanged();
    }

    void cancel(bool keepOrder)
    {
        ++generation;
        const auto dropped = std::exchange(jobs, {});
        if (!keepOrder) {
            tail = {};
            tailID = 0;
        }
        for (const auto &entry : dropped)
            entry.second.cancel();
        if (!dropped.empty() && countChanged)
            countChanged();
    }
};

bool SerialJobQueue::Job::isCurrent() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const auto queue = queue_.lock();
    return queue && queue->generation == generation_ && !token_.isCancelled();
}

void SerialJobQueue::Job::finish() const
{
    TAMPOD_ASSERT_MAIN_THREAD();
    if (const auto queue = queue_.lock())
        queue->finish(id_);
}

SerialJobQueue::SerialJobQueue() : state_(std::make_shared<State>()) {}

SerialJobQueue::~SerialJobQueue()
{
    for (const auto &entry : state_->jobs)
        entry.second.cancel();
}

TaskHandle SerialJobQueue::enqueue(Body body)
{
    TAMPOD_ASSERT_MAIN_THREAD();
    const TaskHandle previous = state_->tail;
    const std::uint64_t id = ++state_->lastID;
    const std::uint64_t generation = state_->generation;
    // Counted and made the tail before it starts: it may run to its end inside this call.
    state_->jobs.emplace(id, TaskHandle());
    state_->tailID = id;
    if (state_->countChanged)
        state_->countChanged();
    std::weak_ptr<State> weak = state_;
    const TaskHandle handle = TaskHandle::start(
        [weak, previous, id, generation, body = std::move(body)](CancellationToken token) -> QCoro::Task<> {
            co_await previous.finished();
            const Job job(weak, id, generation, token);
            std::exception_ptr error;
            // A job dropped before its turn ends without running.
            if (job.isCurrent()) {
                try {
                    // Awaited from a local: g++ 12 can release temporaries of a co_await operand twice.
                    auto running = body(job);
                    co_await running;
                } catch (...) {
                    error = std::current_exception();
                }
            }
            job.finish();
            if (error)
                std::rethrow_exception(error);
        });
    if (const auto entry = state_->jobs.find(id); entry != state_->jobs.end())
        entry->second = handle;
    if (state_->tailID == id)
        state_->tail = handle;
    return handle;
}

void SerialJobQueue::cancelAll()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    state_->cancel(false);
}

void SerialJobQueue::cancelAllInOrder()
{
    TAMPOD_ASSERT_MAIN_THREAD();
    state_->cancel(true);
}

int SerialJobQueue::count() const
{
    return int(state_->jobs.size());
}

const TaskHandle &SerialJobQueue::tail() const
{
    return state_->tail;
}

void SerialJobQueue::onCountChanged(std::function<void()> hook)
{
    state_->countChanged = std::move(hook);
}

} // namespace tampod
