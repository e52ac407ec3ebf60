// The upstream's insides: one loop thread owns the broker session, the
// reading of the site's file and the state file. Internal to the library.
#ifndef VELTA36_UPSTREAM_ENGINE_H
#define VELTA36_UPSTREAM_ENGINE_H

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "event_assigner.h"
#include "mqtt_session.h"
#include "names.h"
#include "outbox.h"
#include "upstream.h"

namespace velta36up {

using Clock = std::chrono::steady_clock;

class Upstream::Impl : public SessionEvents {
public:
    explicit Impl(UpstreamOptions options);
    ~Impl() override;

    void start();
    void stop();
    void note(std::function<void(Impl&)> fact);
    void wake();
    UpstreamStats stats() const;

    // Facts, applied on the loop thread.
    void applyDoors(const std::string& device, DoorState door1, DoorState door2);
    void applyRound(const std::string& device, WallClock::time_point when);
    void applyTimeout(const std::string& device);
    void applyFault(const std::string& device, bool faulty);
    void applyAssigned(const Assigned& assigned);
    void eventsMayHaveArrived();

    // SessionEvents, on the loop thread inside the session's calls.
    void connected(int reason) override;
    void published(int mid, int reason) override;
    void received(const IncomingMessage& message) override;

private:
    struct Device {
        DeviceInfo info;
        DeviceState state;
        bool dirty = true;
        bool urgent = true;
        Clock::time_point lastPublished{};
    };
    enum class Flight { Event, Replay, Removal, Offline, Other };
    struct InFlight {
        Flight kind = Flight::Other;
        int64_t n = 0;
        std::string topic;
    };
    struct ReplayJob {
        Response response;
        std::string device;
        int64_t next = 0, to = 0;
    };
    struct PendingCommand {
        std::future<CommandOutcome> outcome;
        Response response;
        Clock::time_point deadline;
    };

    void run();
    bool iterate();     // one turn of the loop; false once stopped
    void finishRun();
    void takeFacts();
    void connectIfDue(Clock::time_point now);
    void lose(std::string why);   // a copy: the session that said why goes first
    void attemptFailed(std::string why);
    void scheduleRetry();
    void publishDue(Clock::time_point now);
    void publishStates(Clock::time_point now);
    void publishDiscovery();
    void publishReplays();
    void publishEvents();
    bool send(const std::string& topic, const std::string& payload, bool retain, InFlight flight);
    void persistAcknowledged(Clock::time_point now, bool force);
    bool stopFinished(Clock::time_point now);
    int pollTimeout(Clock::time_point now) const;

    // Requests (engine_requests.cpp).
    void handleIncoming();
    void handleRequest(const std::string& kind, const IncomingMessage& message);
    void handlePress(const std::string& device, const std::string& door, const IncomingMessage& message);
    void carryOut(const Request& request, Response response);
    void respond(Response response, const std::string& status, const std::string& error);
    void checkCommands(Clock::time_point now);
    std::optional<std::string> ageRefusal(const Request& request, const IncomingMessage& message) const;

    void log(const std::string& line);   // from either thread

    UpstreamOptions options_;
    Topics topics_;
    SessionConfig sessionConfig_;
    std::map<std::string, Device> devices_;
    std::unique_ptr<Outbox> outbox_;
    std::unique_ptr<EventAssigner> assigner_;
    std::mt19937_64 random_;
    std::mutex logMutex_;

    // Facts from other threads.
    mutable std::mutex factsMutex_;
    std::vector<std::function<void(Impl&)>> facts_;
    bool stopRequested_ = false;
    int wakeFd_ = -1;
    std::thread thread_;

    // What the reader committed to the outbox.
    int64_t lastN_ = 0;
    int64_t startN_ = 0;

    // The session.
    std::unique_ptr<MqttSession> session_;
    bool online_ = false;
    bool everConnected_ = false;
    bool dropSession_ = false;
    int refusedReason_ = 0;
    int failures_ = 0;
    std::string lastFailure_;
    Clock::time_point nextAttempt_{};
    Clock::time_point attemptStarted_{};
    Clock::time_point lostAt_{};

    // Publishing.
    std::unordered_map<int, InFlight> flights_;
    int eventsInFlight_ = 0;
    int64_t sentUpTo_ = 0;
    int64_t ackedUpTo_ = 0;
    int64_t ackedPersisted_ = 0;
    Clock::time_point ackPersistedAt_{};
    bool ackFailing_ = false;
    std::set<int64_t> ackedAhead_;
    std::deque<OutboxEntry> page_;
    bool held_ = false;
    bool refusalLogged_ = false;
    Clock::time_point heldUntil_{};
    bool statusSent_ = false;
    bool discoveryDone_ = false;
    bool discoveryDue_ = false;
    Clock::time_point discoveryAt_{};
    std::deque<ReplayJob> replays_;
    std::deque<std::pair<std::string, std::string>> responses_;

    // Requests.
    std::vector<IncomingMessage> incoming_;
    std::vector<PendingCommand> commands_;
    std::vector<std::future<CommandOutcome>> abandoned_;

    std::string stateFailure_;   // the last failure of a turn, said once

    // Stopping.
    bool stopping_ = false;
    bool readAfterStop_ = false;   // the reader's last reading is in
    bool offlineSent_ = false;
    bool offlineAcked_ = false;
    bool gaveUp_ = false;
    Clock::time_point stopDeadline_{};
    Clock::time_point offlineDeadline_{};

    // Figures for stats(), written on the loop thread.
    std::atomic<bool> connectedFigure_{false};
    std::atomic<uint64_t> attempts_{0}, assigned_{0}, publishedCount_{0}, acknowledged_{0}, refusedAcks_{0},
        backlog_{0}, replayed_{0}, carriedOut_{0}, refused_{0};
    std::atomic<int64_t> lastAckMs_{-1};
};

}  // namespace velta36up

#endif
