// The upstream's reader: a thread of its own that takes new rows from the
// site's ZRMDevice.db in pages and commits each page to the outbox (device,
// seq, identity, message) before anything may send it, starting a new epoch
// when it meets a new instance of the table. Its commits wait for the disk;
// on their own thread they never hold up the network.
#ifndef VELTA36_UPSTREAM_EVENT_ASSIGNER_H
#define VELTA36_UPSTREAM_EVENT_ASSIGNER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "discovery.h"
#include "event_source.h"
#include "outbox.h"

namespace velta36up {

// What the outbox holds after a commit, for the sender and the states.
struct Assigned {
    int64_t lastN = 0;
    struct Counts {
        int64_t lastSeq = 0;
        int64_t eventsStored = 0;
    };
    std::map<std::string, Counts> devices;   // only those that changed
};

struct AssignerOptions {
    std::string eventDatabase;
    std::string stateFolder;
    std::string site;
    std::vector<DeviceInfo> devices;
    int pageRows = 500;
    std::chrono::milliseconds poll{2000};
    bool freshState = false;                               // the outbox was made just now
    std::function<void(const std::string&)> log;           // thread-safe
    std::function<void(const Assigned&)> assigned;         // after each commit
    std::function<void()> finished;                        // after the last read of finish()
};

class EventAssigner {
public:
    explicit EventAssigner(AssignerOptions options);   // opens its own outbox connection
    ~EventAssigner();
    EventAssigner(const EventAssigner&) = delete;
    EventAssigner& operator=(const EventAssigner&) = delete;

    void start();
    void wake();
    // Reads what is left, calls `finished` and ends the thread.
    void finish();
    void join();

private:
    void run();
    // One page; true when a full page was read (more may wait).
    bool readPage();

    AssignerOptions options_;
    std::map<int64_t, std::string> deviceByDataId_;
    std::map<std::string, Assigned::Counts> counts_;
    std::set<int64_t> unknownDataIds_;
    Outbox outbox_;
    EventSource source_;
    SourcePosition position_;
    int64_t lastN_ = 0;
    bool countsKnown_ = false;
    bool failing_ = false;
    std::mt19937_64 random_;

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool woken_ = true;
    bool finishing_ = false;
    std::thread thread_;
};

}  // namespace velta36up

#endif
