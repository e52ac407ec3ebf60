// The central collector's core, without the broker: messages the MQTT side
// has parsed are accepted here, committed to PostgreSQL in batches, and
// reported back as committed so that only then are they acknowledged to the
// broker. Gaps in a device's sequence are asked for again from the site
// through a callback. Single-threaded: the caller's loop calls poll() by
// nextWake() and after accepting messages.
//
// Batching bound: a batch is committed when batchRows messages wait, or
// batchDelay after the first of them was accepted, whichever comes first
// (default 2,000 rows or 20 ms; a commit then takes its own time on top).
// At the rates sites produce the delay decides; in a burst (a backlog after
// an outage) batches fill, and each commit's wait for the server's log
// flush is shared by 2,000 rows.
#ifndef VELTA36_COLLECTOR_COLLECTOR_H
#define VELTA36_COLLECTOR_COLLECTOR_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "event_store.h"
#include "messages.h"
#include "pg_connection.h"
#include "sequence_book.h"

namespace velta36col {

// Names one accepted message until it is reported committed.
using Ticket = uint64_t;

// What the site answered to a replay request (its response's count, first
// and last). The events it found were published before the answer.
struct ReplayAnswer {
    std::string site;
    std::string device;
    int64_t from = 0;
    int64_t to = 0;
    int64_t count = 0;
    std::optional<int64_t> first;
    std::optional<int64_t> last;
};

struct CollectorOptions {
    std::size_t batchRows = 2000;
    std::chrono::milliseconds batchDelay{20};
    // Accepted but not committed; beyond it accept() refuses (the message
    // stays with the broker, unacknowledged).
    std::size_t maxPending = 20000;
    Backfill backfill = Backfill::FromOne;
    GapTiming gaps;
    std::chrono::milliseconds gapCheckEvery{1000};
    // Waits between attempts while the server is away (or a commit fails),
    // doubling from the first to the maximum.
    std::chrono::milliseconds retryFirst{100};
    std::chrono::milliseconds retryMax{10000};
    std::function<Clock::time_point()> clock;             // the system clock when empty
    std::function<void(const ReplayRequest&)> requestReplay;
    std::function<void(const std::string&)> log;          // one line each; none when empty
};

// What one call committed.
struct Committed {
    std::vector<Ticket> tickets;   // these messages are in PostgreSQL now: acknowledge them
    int64_t inserted = 0;
    int64_t duplicates = 0;        // events whose identity was stored already
    int64_t states = 0;
};

struct CollectorStats {
    int64_t inserted = 0;
    int64_t duplicates = 0;
    int64_t states = 0;
    int64_t batches = 0;
    int64_t replaysAsked = 0;
    int64_t connects = 0;          // successful ones, the first included
    int64_t failedAttempts = 0;    // connections and commits that failed
};

class Collector {
public:
    // Throws SettingsError for settings that can never work. A server that
    // cannot be reached is tried again by poll().
    Collector(ConnectionSettings settings, CollectorOptions options);
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Empty when maxPending messages wait already.
    std::optional<Ticket> accept(const EventMessage& event);
    std::optional<Ticket> accept(const StateMessage& state);

    // Commits due batches, reconnects when due, asks for due gaps.
    Committed poll();
    // Commits everything accepted (as far as the server lets it now).
    Committed flush();
    // Records what the site does not hold of a request's range; commits
    // what was accepted first (the replayed events came before the answer).
    Committed replayAnswered(const ReplayAnswer& answer);

    // When poll() has work next.
    Clock::time_point nextWake() const;
    bool connected() const { return store_ != nullptr; }
    std::size_t pending() const { return pending_.size(); }
    const CollectorStats& stats() const { return stats_; }

private:
    struct Pending {
        Ticket ticket;
        Clock::time_point acceptedAt;
        std::optional<EventMessage> event;
        std::optional<StateMessage> state;
    };

    Clock::time_point now() const;
    void say(const std::string& line) const;
    bool ready();
    void failed(const std::exception& error, bool dropConnection);
    bool commitOne(Committed& committed);
    void checkGaps();
    std::optional<Ticket> push(Pending&& entry);

    ConnectionSettings settings_;
    CollectorOptions options_;
    std::unique_ptr<PgConnection> connection_;
    std::unique_ptr<EventStore> store_;
    std::deque<Pending> pending_;
    Clock::time_point retryAt_;
    std::chrono::milliseconds retryWait_;
    Clock::time_point nextGapCheck_;
    Ticket nextTicket_ = 1;
    CollectorStats stats_;
};

}  // namespace velta36col

#endif
