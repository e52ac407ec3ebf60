// The collector's MQTT half: one broker session that subscribes to the
// events, states and replay responses of every site under the prefix,
// hands what it reads to a Collector, and publishes the replay requests the
// Collector asks for. One loop of ours drives both: poll() on the broker's
// socket, with the Collector's nextWake() as the time-out.
//
// Acknowledging: libmosquitto 2.0.11 has no manual acknowledgement; it
// sends the PUBACK of a QoS 1 message as it reads it, before the row is
// committed. A message read but not committed when the process dies is
// therefore gone from the broker; the gap tracker sees the hole (a later
// seq, or a state's last_seq above it) and asks the site, which holds every
// row. What the loop does keep: it stops reading from the socket while the
// Collector holds too much uncommitted, so nothing read is ever refused.
#ifndef VELTA36_COLLECTOR_COLLECTOR_SESSION_H
#define VELTA36_COLLECTOR_COLLECTOR_SESSION_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collector.h"
#include "mqtt_session.h"

namespace velta36col {

struct CollectSettings {
    velta36up::SessionConfig session;       // broker, client id, credentials, TLS
    std::string topicPrefix = "velta36";
    std::optional<std::string> shareGroup;  // subscribe as $share/<group>/...
    // How long the broker keeps our session (and queues for it) while we
    // are away.
    uint32_t sessionExpirySeconds = 7 * 24 * 3600;
    std::chrono::milliseconds reconnectFirst{500};
    std::chrono::milliseconds reconnectMax{30000};
};

struct SessionStats {
    int64_t received = 0;        // messages read on our topics
    int64_t refused = 0;         // of them, not a valid event, state or response
    int64_t replaysPublished = 0;
    int64_t replaysAnswered = 0;
    int64_t brokerConnects = 0;
    int64_t brokerLosses = 0;
};

// The topics of a collector for the prefix: events and replay responses
// shared when a group is given, states always subscribed by every member.
std::vector<std::string> CollectorFilters(const std::string& prefix, const std::optional<std::string>& group);
// A replay request's transaction carries the range it asks for, so that
// whichever collector of a group reads the response knows what it answers:
// "r-<from>-<to>-<tag>".
std::string ReplayTransaction(int64_t from, int64_t to, const std::string& tag);
bool ParseReplayTransaction(const std::string& transaction, int64_t& from, int64_t& to);

class CollectorSession : private velta36up::SessionEvents {
public:
    // Throws SettingsError (PostgreSQL settings) or std::runtime_error.
    CollectorSession(CollectSettings settings, ConnectionSettings database, CollectorOptions options);
    ~CollectorSession() override;
    CollectorSession(const CollectorSession&) = delete;
    CollectorSession& operator=(const CollectorSession&) = delete;

    // Runs until stop() returns true (checked at least every 100 ms), then
    // commits what was accepted and disconnects. Two threads while it
    // runs: the caller's reads the broker and parses, "velta36-writer"
    // owns the Collector and commits, so a commit never stops the reading
    // and a burst fills batches while the previous one commits.
    void run(const std::function<bool()>& stop);

    // The Collector's figures, as of its last turn; from any thread.
    CollectorStats collectorStats() const;
    const SessionStats& stats() const { return stats_; }

private:
    // One message for the writer.
    struct Item {
        std::optional<EventMessage> event;
        std::optional<StateMessage> state;
        std::optional<ReplayAnswer> answer;
    };

    void connected(int reason) override;
    void published(int mid, int reason) override;
    void received(const velta36up::IncomingMessage& message) override;

    void say(const std::string& line) const;
    void tryConnect();
    // Takes the reason by value: it is often the session's own error text,
    // and the session is released here.
    void lose(std::string why);
    void publishReplays();
    bool readAvailable(int fd);
    bool canRead() const;
    void handleResponse(const std::string& site, const std::string& payload);
    // Items parsed in one turn of the loop go to the writer together: one
    // lock and one wake-up a turn, not one a message.
    void hand(Item&& item);
    void handOver();
    void writerLoop();
    void wakeNetwork();

    CollectSettings settings_;
    std::function<void(const std::string&)> log_;
    std::unique_ptr<Collector> collector_;   // the writer's only
    std::unique_ptr<velta36up::MqttSession> session_;
    bool subscribed_ = false;
    std::string tag_;
    std::size_t maxPending_ = 0;
    int64_t nextTransaction_ = 1;
    Clock::time_point reconnectAt_;
    std::chrono::milliseconds reconnectWait_;
    std::optional<Clock::time_point> lostAt_;
    SessionStats stats_;
    std::vector<Item> parsed_;   // this turn's, not yet handed over

    // Shared by the two threads.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> inbox_;
    std::vector<ReplayRequest> replays_;   // asked by the Collector, not yet published
    std::size_t backlog_ = 0;              // in the inbox and pending in the Collector
    CollectorStats collectorStats_;
    bool stopping_ = false;
    int wakePipe_[2] = {-1, -1};           // the writer wakes the network loop for replays
};

}  // namespace velta36col

#endif
