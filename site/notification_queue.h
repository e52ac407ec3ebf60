// The site's notification thread. The line threads post notices; this
// thread runs them one after another in the order they were posted, and
// on its own runs a periodic round. Nothing here knows what a notice
// says: the site posts closures that call its listeners.
#ifndef VELTA36_SITE_NOTIFICATION_QUEUE_H
#define VELTA36_SITE_NOTIFICATION_QUEUE_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velta36site {

class NotificationQueue {
public:
    using Task = std::function<void()>;

    struct Hooks {
        Task onMark;     // at each mark
        Task onPeriod;   // every period, and once more as the thread ends
        // After each wake: true while something waits for a quick look
        // (a command's outcome); the thread then wakes every `quick`.
        std::function<bool()> inHurry;
    };

    NotificationQueue(std::chrono::milliseconds period, std::chrono::milliseconds quick);
    ~NotificationQueue();
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    void start(Hooks hooks);
    // From any thread. An exception a task throws is dropped.
    void post(Task task);
    // A point in the order of notices at which onMark runs; marks posted
    // with nothing between them run once.
    void postMark();
    // A look now, without a notice (the hooks run).
    void wake();
    // Runs what is queued, one last period, then ends the thread. Later
    // posts are dropped.
    void finish();
    bool running() const;

private:
    struct Entry {
        bool mark;
        Task task;
    };

    void run();

    const std::chrono::milliseconds period_;
    const std::chrono::milliseconds quick_;
    Hooks hooks_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> queue_;
    bool woken_ = false;
    bool finishing_ = false;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace velta36site

#endif
