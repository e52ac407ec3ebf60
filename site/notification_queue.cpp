#include "notification_queue.h"

#include <exception>

namespace velta36site {

namespace {

void Run(const std::function<void()>& task)
{
    if (!task)
        return;
    try {
        task();
    } catch (const std::exception&) {
        // The thread goes on with the next notice.
    }
}

}  // namespace

NotificationQueue::NotificationQueue(std::chrono::milliseconds period, std::chrono::milliseconds quick)
    : period_(period), quick_(quick)
{
}

NotificationQueue::~NotificationQueue()
{
    finish();
}

void NotificationQueue::start(Hooks hooks)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ || finishing_)
        return;
    hooks_ = std::move(hooks);
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void NotificationQueue::post(Task task)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (finishing_ && !running_)
            return;
        queue_.push_back(Entry{false, std::move(task)});
    }
    wake_.notify_one();
}

void NotificationQueue::postMark()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if ((finishing_ && !running_) || (!queue_.empty() && queue_.back().mark))
            return;
        queue_.push_back(Entry{true, Task()});
    }
    wake_.notify_one();
}

void NotificationQueue::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

void NotificationQueue::finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    queue_.clear();
}

bool NotificationQueue::running() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void NotificationQueue::run()
{
    auto lastPeriod = std::chrono::steady_clock::now();
    bool hurry = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, hurry ? quick_ : period_, [this] { return !queue_.empty() || finishing_ || woken_; });
        woken_ = false;
        std::deque<Entry> batch;
        batch.swap(queue_);
        const bool finishing = finishing_;
        lock.unlock();

        for (const Entry& entry : batch)
            Run(entry.mark ? hooks_.onMark : entry.task);
        const auto now = std::chrono::steady_clock::now();
        if (finishing || now - lastPeriod >= period_) {
            lastPeriod = now;
            Run(hooks_.onPeriod);
        }
        hurry = hooks_.inHurry && hooks_.inHurry();

        lock.lock();
        if (finishing && queue_.empty())
            return;
    }
}

}  // namespace velta36site
