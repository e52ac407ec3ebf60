// Writes what the collector accepted into PostgreSQL, one transaction per
// batch: the events (a duplicate identity is a no-op), the current state of
// each device, and each device's sequence book. The devices of a batch are
// locked first, always in the same order, so that collectors writing the
// same devices at once take turns instead of deadlocking, and each book is
// read and written under its lock.
#ifndef VELTA36_COLLECTOR_EVENT_STORE_H
#define VELTA36_COLLECTOR_EVENT_STORE_H

#include <cstdint>
#include <string>
#include <vector>

#include "messages.h"
#include "sequence_book.h"

namespace velta36col {

class PgConnection;

struct ReplayRequest {
    std::string site;
    std::string device;
    int64_t from = 0;   // inclusive
    int64_t to = 0;     // inclusive, at most 10,000 after from
};

struct BatchOutcome {
    int64_t inserted = 0;
    int64_t duplicates = 0;
    int64_t states = 0;
};

class EventStore {
public:
    explicit EventStore(PgConnection& connection) : connection_(connection) {}

    // Commits the batch or throws (PgError) with nothing of it kept.
    BatchOutcome write(const std::vector<const EventMessage*>& events,
                       const std::vector<const StateMessage*>& states, Clock::time_point now, Backfill backfill);
    // The replay requests due now, recorded as asked in the same
    // transaction. Devices another collector holds locked are skipped
    // (they come up at the next check).
    std::vector<ReplayRequest> takeDueReplays(Clock::time_point now, const GapTiming& timing,
                                              int maxDevices = 200);
    // The site holds none of [from, to]: no more requests for that range.
    void markUnavailable(const std::string& site, const std::string& device, int64_t from, int64_t to);

private:
    PgConnection& connection_;
};

}  // namespace velta36col

#endif
