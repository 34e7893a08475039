#include "concurrency/serial_executor.h"

#include "concurrency/thread_start.h"

namespace tampod {

SerialExecutor::SerialExecutor(QString name)
    : name_(std::move(name))
{
    worker_ = startThread([this] { work(); });
    workerId_ = worker_.get_id();
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void SerialExecutor::enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void SerialExecutor::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace tampod
