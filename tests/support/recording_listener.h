// RecordingListener: a site listener that keeps what it is told, for tests
// of a site and of what plugs into one. Safe to read from the test's thread
// while the site's notification thread writes; it also notes whether the
// calls ever came from two threads or overlapped.
//
//   velta36test::RecordingListener heard;
//   site.addListener(heard);
//   site.start();
//   WaitFor([&] { return heard.rows().size() == 10; });
#ifndef VELTA36_TESTS_SUPPORT_RECORDING_LISTENER_H
#define VELTA36_TESTS_SUPPORT_RECORDING_LISTENER_H

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "site_listener.h"

namespace velta36test {

class RecordingListener : public velta36site::SiteListener {
public:
    struct Row {
        std::string device;   // the identity's name
        velta36site::StoredEvent row;
    };
    struct Doors {
        std::string device;
        velta36site::DoorStates doors;
    };
    struct Fault {
        std::string device;
        bool faulty;
        std::string error;
    };

    void onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row) override
    {
        note([&] { rows_.push_back(Row{device.name, row}); });
    }
    void onDoorsChanged(const velta36site::DeviceIdentity& device, const velta36site::DoorStates& doors) override
    {
        note([&] { doors_.push_back(Doors{device.name, doors}); });
    }
    void onRoundCompleted(const velta36site::DeviceIdentity&) override
    {
        note([&] { ++rounds_; });
    }
    void onRoundTimedOut(const velta36site::DeviceIdentity& device) override
    {
        note([&] { timeouts_.push_back(device.name); });
    }
    void onDatabaseFault(const velta36site::DeviceIdentity& device, const refhost::DatabaseHealth& health) override
    {
        note([&] { faults_.push_back(Fault{device.name, health.faulty, health.lastError}); });
    }
    void onLineStopped(const velta36site::LineIdentity& line, const std::string& error) override
    {
        note([&] { stoppedLines_.push_back(line.port + " stopped: " + error); });
    }
    void onControlOutcome(const velta36site::DeviceIdentity& device, const velta36site::ControlRequest& request,
                          const velta36site::ControlOutcome& outcome) override
    {
        const std::string done = outcome.carriedOut() ? ": done" : ": not done " + outcome.error;
        note([&] { outcomes_.push_back(device.name + ": " + request.what + done); });
    }

    std::vector<Row> rows() const { return copy(rows_); }
    std::vector<Doors> doors() const { return copy(doors_); }
    std::vector<Fault> faults() const { return copy(faults_); }
    std::vector<std::string> stoppedLines() const { return copy(stoppedLines_); }
    std::vector<std::string> outcomes() const { return copy(outcomes_); }
    uint64_t rounds() const { return copy(rounds_); }
    uint64_t timeouts() const { return copy(timeouts_).size(); }
    uint64_t timeoutsOf(const std::string& device) const
    {
        const std::vector<std::string> all = copy(timeouts_);
        return static_cast<uint64_t>(std::count(all.begin(), all.end(), device));
    }
    // Every call so far came from one thread, and none began before the
    // one before it had returned.
    bool oneAtATime() const { return copy(threads_).size() <= 1 && !overlapped_; }

private:
    template <typename Fn>
    void note(Fn fn)
    {
        if (inCall_.exchange(true))
            overlapped_ = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads_.insert(std::this_thread::get_id());
            fn();
        }
        inCall_ = false;
    }
    template <typename T>
    T copy(const T& value) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return value;
    }

    mutable std::mutex mutex_;
    std::atomic<bool> inCall_{false};
    std::atomic<bool> overlapped_{false};
    std::set<std::thread::id> threads_;
    std::vector<Row> rows_;
    std::vector<Doors> doors_;
    std::vector<Fault> faults_;
    std::vector<std::string> stoppedLines_;
    std::vector<std::string> outcomes_;
    std::vector<std::string> timeouts_;   // device names
    uint64_t rounds_ = 0;
};

}  // namespace velta36test

#endif
