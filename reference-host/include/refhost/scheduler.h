// The host's polling scheduler: one thread per serial line, the devices of a
// line polled in turn, one exchange at a time. An exchange is a polling round
// (RefreshStatus, then every received chunk to process until the device ends
// it) or a control command queued from another thread (DeviceIoControl, driven
// to its end the same way, then the result query). A reply that does not come
// in time ends the exchange from the host's side: Reset, flush the line.
// While the lines run, each device's standard-output lines are reported as
// its Log events, and the device's database health is followed from them.
#ifndef VELTA36_REFHOST_SCHEDULER_H
#define VELTA36_REFHOST_SCHEDULER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "ZRMController.h"
#include "refhost/database_health.h"
#include "refhost/device_host.h"
#include "refhost/device_log.h"
#include "refhost/plugin_loader.h"
#include "refhost/transport.h"

namespace refhost {

// Longest reply the controllers on our lines send: a full event batch.
const std::size_t kMaxReplyBytes = 236;

// Time a request may take to be answered: the request and the longest reply
// on the wire (10 bits a byte) plus the controller's turnaround.
std::chrono::milliseconds ReplyTimeout(int32_t baud, std::size_t requestBytes,
                                       std::chrono::milliseconds turnaround,
                                       std::size_t replyBytes = kMaxReplyBytes);

struct DeviceProgress {
    std::string name;
    std::size_t line = 0;
    uint32_t roundsStarted = 0;
    uint32_t roundsCompleted = 0;   // rounds that published their record
    uint32_t timeouts = 0;          // exchanges the host had to end itself
    uint32_t controlsRun = 0;
    uint64_t framesSent = 0;
    uint64_t bytesReceived = 0;
    // Whether the device's events reach the database, and how many of its
    // saves gave up (see database_health.h).
    DatabaseHealth database;
};

struct ControlOutcome {
    int32_t ioResult = 0;        // what DeviceIoControl returned
    bool started = false;        // the command sent a frame
    bool timedOut = false;       // the line went quiet before the sequence ended
    int32_t controlResult = -1;  // the result query's answer (1: carried out)
    // Where a sequence that was not carried out stopped: how many frames
    // it sent, the last of them, and what came back after it (the first
    // bytes; empty: silence).
    uint32_t framesSent = 0;
    std::vector<unsigned char> lastFrame;
    std::vector<unsigned char> lastReply;
};

struct TraceRecord {
    enum class Direction { Sent, Received };
    Direction direction;
    std::chrono::system_clock::time_point when;
    std::size_t line;
    std::string device;   // the device whose exchange it belongs to
    std::vector<unsigned char> bytes;
};

class Scheduler {
public:
    struct Options {
        uint32_t maxRounds = 0;                              // per device; 0: no limit
        bool poll = true;                                    // false: controls only
        std::chrono::milliseconds interval{0};               // pause between cycles
        std::chrono::milliseconds turnaround{300};           // controller reply margin
        int32_t resultQueryCode = 0;                         // any non-command code
        // Once stop() is asked, or while a control command waits for the
        // line, a polling round is ended by the host as soon as the last
        // request the device sent is one this accepts: a read whose reply is
        // never acknowledged, so the controller keeps what it would have
        // sent and the next round reads it. Without it, or while a control
        // command runs, the exchange in progress is finished.
        std::function<bool(const unsigned char* frame, std::size_t length)> stopPoint;
        // A line whose port cannot be opened is tried again after this,
        // the wait doubling up to reopenLongest, until it opens or the
        // scheduler stops; 0: the line ends on the error.
        std::chrono::milliseconds reopenFirst{0};
        std::chrono::milliseconds reopenLongest{60000};
    };

    using EventObserver = std::function<void(std::size_t device, const HostEvent&)>;
    using TraceObserver = std::function<void(const TraceRecord&)>;
    // Called on the line's thread when a device's database fault starts or
    // ends, with the device's health as it is then.
    using DatabaseObserver = std::function<void(std::size_t device, const DatabaseHealth&)>;
    // Called on the line's thread after each cycle over its devices; true
    // ends the line.
    using CycleCheck = std::function<bool(std::size_t line)>;
    // Called on the line's thread when its port could not be opened (open
    // false, with why; again whenever the reason changes) and when it
    // opens after that.
    using LineObserver = std::function<void(std::size_t line, bool open, const std::string& error)>;

    explicit Scheduler(Options options);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Set up before start().
    std::size_t addLine(const std::string& name, std::unique_ptr<Transport> transport, int32_t baud);
    // Attaches the device to a host of its own on the line, then Init and
    // InitSetting with the configuration; exceptions of the device's
    // settings code reach the caller. Returns the device's number.
    std::size_t addDevice(std::size_t line, const std::string& name, DeviceHandle device,
                          const Json::Value& config);
    void setEventObserver(EventObserver observer);
    void setTraceObserver(TraceObserver observer);
    void setDatabaseObserver(DatabaseObserver observer);
    void setCycleCheck(CycleCheck check);
    void setLineObserver(LineObserver observer);

    void start();
    // Lines finish the exchange in progress, then end. Safe from any thread.
    void stop();
    // Like stop, but an exchange in progress is cut short (Reset, flush).
    void abort();
    // Blocks until every line has ended.
    void wait();
    bool finished() const;

    // Queues a control command for the device; it runs between exchanges.
    // The future fails with std::runtime_error when the line ends first.
    std::future<ControlOutcome> submitControl(std::size_t device, int32_t code, const std::string& argument);

    std::vector<DeviceProgress> progress() const;
    uint64_t completedRounds() const;
    // One message per line that ended on an error (empty when none did).
    std::vector<std::string> errors() const;

    ZRMSPDevice& device(std::size_t index);
    std::size_t deviceCount() const;

private:
    struct Control;
    struct Device;
    struct Line;

    void runLine(Line& line);
    // False when the scheduler stopped before the port opened.
    bool openLine(Line& line);
    void runCycle(Line& line);
    void runControls(Line& line, Device& device);
    void runRound(Line& line, Device& device);
    // Feeds replies to the device until it ends the exchange; false on time-out.
    // round: a polling round, which a stop may end at a stop point.
    bool driveExchange(Line& line, Device& device, bool round);
    bool atStopPoint(const Line& line) const;
    void dropReplyInFlight(Line& line);
    void failPending(Line& line, const std::string& why);
    void watchDatabase(Device& device, const HostEvent& event);
    bool waitBetweenCycles(Line& line);
    bool lineDone(const Line& line) const;

    Options options_;
    std::vector<std::unique_ptr<Line>> lines_;
    std::vector<std::unique_ptr<Device>> devices_;
    EventObserver eventObserver_;
    TraceObserver traceObserver_;
    DatabaseObserver databaseObserver_;
    CycleCheck cycleCheck_;
    LineObserver lineObserver_;
    // While the lines run, what a device writes on standard output is
    // reported as its Log events.
    std::unique_ptr<DeviceLogCapture> logCapture_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> aborting_{false};
    std::atomic<uint64_t> completedRounds_{0};
    mutable std::mutex mutex_;             // progress, control queues, errors
    std::condition_variable wake_;
    std::vector<std::string> errors_;
    bool started_ = false;
};

}  // namespace refhost

#endif
