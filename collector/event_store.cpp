#include "event_store.h"

#include <algorithm>
#include <map>
#include <utility>

#include "pg_connection.h"

namespace velta36col {

namespace {

using DeviceKey = std::pair<std::string, std::string>;
using Books = std::map<DeviceKey, SequenceBook>;

// Inserts the rows of devices never seen and locks every row, in one pass
// in byte order: two collectors meet on the first device both hold and
// wait there, never in a cycle.
const char* const kLockDevices = R"SQL(
INSERT INTO velta36_device_progress AS p (site, device)
SELECT k.site, k.device FROM unnest($1::text[], $2::text[]) AS k(site, device)
ORDER BY k.site COLLATE "C", k.device COLLATE "C"
ON CONFLICT (site, device) DO UPDATE SET updated_at = now()
RETURNING p.site, p.device, p.start_seq, p.highest_seq)SQL";

const char* const kLoadGaps = R"SQL(
SELECT g.site, g.device, g.from_seq, g.to_seq, (extract(epoch FROM g.first_seen) * 1000000)::bigint,
       (extract(epoch FROM g.asked_at) * 1000000)::bigint, g.asked_to, g.asks, g.unavailable
FROM velta36_gaps g JOIN unnest($1::text[], $2::text[]) AS k(site, device)
  ON g.site = k.site COLLATE "C" AND g.device = k.device COLLATE "C")SQL";

const char* const kInsertEvents = R"SQL(
INSERT INTO velta36_events (site, device, identity, data_id, seq, epoch, site_row, event_time, channel,
                            event_type, type_name, card, reason)
SELECT * FROM unnest($1::text[], $2::text[], $3::text[], $4::bigint[], $5::bigint[], $6::text[], $7::bigint[],
                     $8::text[], $9::integer[], $10::integer[], $11::text[], $12::text[], $13::text[])
ON CONFLICT DO NOTHING)SQL";

// A state older than the one stored (fewer events, an earlier round) is
// one that crossed a newer one on the way (two collectors, a redelivery):
// it does not overwrite it.
const char* const kUpsertStates = R"SQL(
INSERT INTO velta36_device_state AS s (site, device, data_id, online, doors, door1, door2, database_fault,
                                       last_round, state_last_seq, events_stored, state_at)
SELECT k.*, now() FROM unnest($1::text[], $2::text[], $3::bigint[], $4::boolean[], $5::integer[], $6::text[],
                              $7::text[], $8::boolean[], $9::timestamptz[], $10::bigint[], $11::bigint[])
  AS k(site, device, data_id, online, doors, door1, door2, database_fault, last_round, state_last_seq,
       events_stored)
ON CONFLICT (site, device) DO UPDATE SET
  data_id = EXCLUDED.data_id, online = EXCLUDED.online, doors = EXCLUDED.doors, door1 = EXCLUDED.door1,
  door2 = EXCLUDED.door2, database_fault = EXCLUDED.database_fault, last_round = EXCLUDED.last_round,
  state_last_seq = EXCLUDED.state_last_seq, events_stored = EXCLUDED.events_stored, state_at = now()
WHERE s.state_last_seq IS NULL
   OR (EXCLUDED.state_last_seq >= s.state_last_seq
       AND (s.last_round IS NULL OR EXCLUDED.last_round IS NULL OR EXCLUDED.last_round >= s.last_round)))SQL";

const char* const kUpsertLastEvents = R"SQL(
INSERT INTO velta36_device_state AS s (site, device, last_event_time, last_seq, last_event_at)
SELECT k.*, now() FROM unnest($1::text[], $2::text[], $3::text[], $4::bigint[])
  AS k(site, device, last_event_time, last_seq)
ON CONFLICT (site, device) DO UPDATE SET
  last_event_time = EXCLUDED.last_event_time, last_seq = EXCLUDED.last_seq, last_event_at = now()
WHERE s.last_seq IS NULL OR EXCLUDED.last_seq > s.last_seq)SQL";

const char* const kSaveProgress = R"SQL(
UPDATE velta36_device_progress AS p
SET start_seq = k.start_seq, highest_seq = k.highest_seq, contiguous_seq = k.contiguous_seq, updated_at = now()
FROM unnest($1::text[], $2::text[], $3::bigint[], $4::bigint[], $5::bigint[])
  AS k(site, device, start_seq, highest_seq, contiguous_seq)
WHERE p.site = k.site COLLATE "C" AND p.device = k.device COLLATE "C")SQL";

const char* const kDeleteGaps = R"SQL(
DELETE FROM velta36_gaps g USING unnest($1::text[], $2::text[]) AS k(site, device)
WHERE g.site = k.site COLLATE "C" AND g.device = k.device COLLATE "C")SQL";

const char* const kInsertGaps = R"SQL(
INSERT INTO velta36_gaps (site, device, from_seq, to_seq, first_seen, asked_at, asked_to, asks, unavailable)
SELECT k.site, k.device, k.from_seq, k.to_seq, to_timestamp(0) + k.first_seen * interval '1 microsecond',
       to_timestamp(0) + k.asked_at * interval '1 microsecond', k.asked_to, k.asks, k.unavailable
FROM unnest($1::text[], $2::text[], $3::bigint[], $4::bigint[], $5::bigint[], $6::bigint[], $7::bigint[],
            $8::integer[], $9::boolean[])
  AS k(site, device, from_seq, to_seq, first_seen, asked_at, asked_to, asks, unavailable))SQL";

// Devices with a gap that may be due: open longer than the grace, and
// never asked, asked only for an earlier part, or asked long enough ago.
const char* const kDueDevices = R"SQL(
SELECT p.site, p.device, p.start_seq, p.highest_seq FROM velta36_device_progress p
WHERE EXISTS (SELECT 1 FROM velta36_gaps g
              WHERE g.site = p.site AND g.device = p.device AND NOT g.unavailable
                AND g.first_seen <= to_timestamp(0) + $1::bigint * interval '1 microsecond'
                AND (g.asked_at IS NULL OR g.from_seq > g.asked_to
                     OR g.asked_at <= to_timestamp(0) + $2::bigint * interval '1 microsecond'))
ORDER BY p.site, p.device
LIMIT $3
FOR UPDATE SKIP LOCKED)SQL";

const char* const kLockOne = R"SQL(
SELECT site, device, start_seq, highest_seq FROM velta36_device_progress
WHERE site = $1 AND device = $2 FOR UPDATE)SQL";

int64_t Micros(Clock::time_point when)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
}

Clock::time_point FromMicros(int64_t micros)
{
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(micros)));
}

std::string Bool(bool value)
{
    return value ? "t" : "f";
}

struct KeyArrays {
    std::vector<std::string> sites;
    std::vector<std::string> devices;
};

KeyArrays Keys(const std::vector<DeviceKey>& keys)
{
    KeyArrays arrays;
    for (const DeviceKey& key : keys) {
        arrays.sites.push_back(key.first);
        arrays.devices.push_back(key.second);
    }
    return arrays;
}

// Builds the books of the rows a locking statement returned (site, device,
// start_seq, highest_seq), with their gaps.
Books LoadBooks(PgConnection& connection, const PgResult& locked)
{
    std::map<DeviceKey, std::vector<Gap>> gaps;
    std::vector<DeviceKey> keys;
    for (int r = 0; r < locked.rows(); ++r)
        keys.emplace_back(locked.text(r, 0), locked.text(r, 1));
    if (!keys.empty()) {
        const KeyArrays arrays = Keys(keys);
        PgResult rows = connection.exec(kLoadGaps, {TextArray(arrays.sites), TextArray(arrays.devices)});
        for (int r = 0; r < rows.rows(); ++r) {
            Gap gap;
            gap.from = rows.integer(r, 2);
            gap.to = rows.integer(r, 3);
            gap.firstSeen = FromMicros(rows.integer(r, 4));
            if (!rows.isNull(r, 5))
                gap.askedAt = FromMicros(rows.integer(r, 5));
            gap.askedTo = rows.integer(r, 6);
            gap.asks = static_cast<int32_t>(rows.integer(r, 7));
            gap.unavailable = rows.text(r, 8) == "t";
            gaps[DeviceKey(rows.text(r, 0), rows.text(r, 1))].push_back(gap);
        }
    }
    Books books;
    for (int r = 0; r < locked.rows(); ++r) {
        DeviceKey key(locked.text(r, 0), locked.text(r, 1));
        books.emplace(key, SequenceBook(locked.optionalInteger(r, 2), locked.integer(r, 3), gaps[key]));
    }
    return books;
}

// Writes back the books that changed: progress rows and their gaps.
void SaveBooks(PgConnection& connection, const Books& books)
{
    std::vector<DeviceKey> changed;
    std::vector<Param> starts;
    std::vector<int64_t> highest, contiguous;
    std::vector<std::string> gapSites, gapDevices;
    std::vector<int64_t> froms, tos, firstSeen, askedTo, asks;
    std::vector<Param> askedAt, unavailable;
    for (const auto& entry : books) {
        const SequenceBook& book = entry.second;
        if (!book.changed())
            continue;
        changed.push_back(entry.first);
        starts.push_back(book.start() ? Param(std::to_string(*book.start())) : Param());
        highest.push_back(book.highest());
        contiguous.push_back(book.contiguous());
        for (const Gap& gap : book.gaps()) {
            gapSites.push_back(entry.first.first);
            gapDevices.push_back(entry.first.second);
            froms.push_back(gap.from);
            tos.push_back(gap.to);
            firstSeen.push_back(Micros(gap.firstSeen));
            askedAt.push_back(gap.askedAt ? Param(std::to_string(Micros(*gap.askedAt))) : Param());
            askedTo.push_back(gap.askedTo);
            asks.push_back(gap.asks);
            unavailable.push_back(Bool(gap.unavailable));
        }
    }
    if (changed.empty())
        return;
    const KeyArrays arrays = Keys(changed);
    const std::string sites = TextArray(arrays.sites), devices = TextArray(arrays.devices);
    connection.exec(kSaveProgress, {sites, devices, TextArray(starts), IntegerArray(highest),
                                    IntegerArray(contiguous)});
    connection.exec(kDeleteGaps, {sites, devices});
    if (!froms.empty())
        connection.exec(kInsertGaps, {TextArray(gapSites), TextArray(gapDevices), IntegerArray(froms),
                                      IntegerArray(tos), IntegerArray(firstSeen), TextArray(askedAt),
                                      IntegerArray(askedTo), IntegerArray(asks), TextArray(unavailable)});
}

// Runs work inside a transaction; rolls back when it throws.
template <typename Work>
auto InTransaction(PgConnection& connection, Work work) -> decltype(work())
{
    connection.script("BEGIN");
    try {
        auto result = work();
        connection.script("COMMIT");
        return result;
    } catch (...) {
        connection.rollbackQuietly();
        throw;
    }
}

const char* const kCopyEvents =
    "COPY velta36_events (site, device, identity, data_id, seq, epoch, site_row, event_time, channel, "
    "event_type, type_name, card, reason) FROM STDIN";

std::string CopyRows(const std::vector<const EventMessage*>& events)
{
    std::string rows;
    rows.reserve(events.size() * 160);
    for (const EventMessage* e : events) {
        for (const std::string* text : {&e->site, &e->device, &e->identity})
            rows += CopyText(*text) + '\t';
        rows += std::to_string(e->dataId) + '\t' + std::to_string(e->seq) + '\t' + CopyText(e->epoch) + '\t' +
                std::to_string(e->row) + '\t' + (e->time ? CopyText(*e->time) : kCopyNull) + '\t' +
                std::to_string(e->channel) + '\t' + std::to_string(e->type) + '\t' + CopyText(e->typeName) +
                '\t' + CopyText(e->card) + '\t' + CopyText(e->reason) + '\n';
    }
    return rows;
}

// Most batches hold only new events, and COPY stores those at about twice
// the rate of an INSERT with ON CONFLICT (it writes rows to the table in
// runs). A batch with a duplicate makes the COPY fail on the key; it is
// rolled back to the savepoint and written again with ON CONFLICT DO
// NOTHING, which skips the duplicates. Batches with replayed events, which
// are mostly duplicates, go that way at once.
bool CopyNewEvents(PgConnection& connection, const std::vector<const EventMessage*>& events,
                   BatchOutcome& outcome)
{
    for (const EventMessage* e : events)
        if (e->replayed)
            return false;
    connection.script("SAVEPOINT new_events");
    try {
        outcome.inserted = connection.copyIn(kCopyEvents, CopyRows(events));
        return true;
    } catch (const PgError& error) {
        if (error.sqlState() != "23505")   // unique_violation
            throw;
        connection.script("ROLLBACK TO SAVEPOINT new_events");
        return false;
    }
}

void InsertEvents(PgConnection& connection, const std::vector<const EventMessage*>& events,
                  BatchOutcome& outcome)
{
    if (events.empty())
        return;
    std::vector<std::string> sites, devices, identities, epochs, typeNames, cards, reasons;
    std::vector<int64_t> dataIds, seqs, rows, channels, types;
    std::vector<Param> times;
    for (const EventMessage* e : events) {
        const EventMessage& event = *e;
        sites.push_back(event.site);
        devices.push_back(event.device);
        identities.push_back(event.identity);
        dataIds.push_back(event.dataId);
        seqs.push_back(event.seq);
        epochs.push_back(event.epoch);
        rows.push_back(event.row);
        times.push_back(event.time);
        channels.push_back(event.channel);
        types.push_back(event.type);
        typeNames.push_back(event.typeName);
        cards.push_back(event.card);
        reasons.push_back(event.reason);
    }
    PgResult result = connection.exec(
        kInsertEvents,
        {TextArray(sites), TextArray(devices), TextArray(identities), IntegerArray(dataIds), IntegerArray(seqs),
         TextArray(epochs), IntegerArray(rows), TextArray(times), IntegerArray(channels), IntegerArray(types),
         TextArray(typeNames), TextArray(cards), TextArray(reasons)});
    outcome.inserted = result.affected();
}

void StoreEvents(PgConnection& connection, const std::vector<const EventMessage*>& events, BatchOutcome& outcome)
{
    if (events.empty())
        return;
    if (!CopyNewEvents(connection, events, outcome))
        InsertEvents(connection, events, outcome);
    outcome.duplicates = static_cast<int64_t>(events.size()) - outcome.inserted;

    // The last event of each device: the one with the highest seq.
    std::map<DeviceKey, const EventMessage*> last;
    for (const EventMessage* event : events) {
        const EventMessage*& slot = last[DeviceKey(event->site, event->device)];
        if (slot == nullptr || event->seq > slot->seq)
            slot = event;
    }
    std::vector<std::string> lastSites, lastDevices;
    std::vector<Param> lastTimes;
    std::vector<int64_t> lastSeqs;
    for (const auto& entry : last) {
        lastSites.push_back(entry.first.first);
        lastDevices.push_back(entry.first.second);
        lastTimes.push_back(entry.second->time);
        lastSeqs.push_back(entry.second->seq);
    }
    connection.exec(kUpsertLastEvents,
                    {TextArray(lastSites), TextArray(lastDevices), TextArray(lastTimes), IntegerArray(lastSeqs)});
}

void UpsertStates(PgConnection& connection, const std::vector<const StateMessage*>& states)
{
    // Of several states of one device in a batch the last accepted wins.
    std::map<DeviceKey, const StateMessage*> latest;
    for (const StateMessage* state : states)
        latest[DeviceKey(state->site, state->device)] = state;
    if (latest.empty())
        return;
    std::vector<std::string> sites, devices, door1;
    std::vector<int64_t> dataIds, doors, lastSeqs, stored;
    std::vector<Param> online, door2, faults, rounds;
    for (const auto& entry : latest) {
        const StateMessage& state = *entry.second;
        sites.push_back(state.site);
        devices.push_back(state.device);
        dataIds.push_back(state.dataId);
        online.push_back(Bool(state.online));
        doors.push_back(state.doors);
        door1.push_back(DoorStateName(state.door1));
        door2.push_back(state.door2 ? Param(DoorStateName(*state.door2)) : Param());
        faults.push_back(Bool(state.databaseFault));
        rounds.push_back(state.lastRound);
        lastSeqs.push_back(state.lastSeq);
        stored.push_back(state.eventsStored);
    }
    connection.exec(kUpsertStates, {TextArray(sites), TextArray(devices), IntegerArray(dataIds), TextArray(online),
                                    IntegerArray(doors), TextArray(door1), TextArray(door2), TextArray(faults),
                                    TextArray(rounds), IntegerArray(lastSeqs), IntegerArray(stored)});
}

}  // namespace

BatchOutcome EventStore::write(const std::vector<const EventMessage*>& events,
                               const std::vector<const StateMessage*>& states, Clock::time_point now,
                               Backfill backfill)
{
    std::vector<DeviceKey> keys;
    for (const EventMessage* event : events)
        keys.emplace_back(event->site, event->device);
    for (const StateMessage* state : states)
        keys.emplace_back(state->site, state->device);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    BatchOutcome outcome;
    if (keys.empty())
        return outcome;

    // Each device's seqs in order, so that a run of events extends the
    // book instead of opening and closing gaps within the batch.
    std::vector<const EventMessage*> bySeq = events;
    std::sort(bySeq.begin(), bySeq.end(), [](const EventMessage* a, const EventMessage* b) {
        return std::tie(a->site, a->device, a->seq) < std::tie(b->site, b->device, b->seq);
    });

    return InTransaction(connection_, [&] {
        const KeyArrays arrays = Keys(keys);
        PgResult locked = connection_.exec(kLockDevices, {TextArray(arrays.sites), TextArray(arrays.devices)});
        Books books = LoadBooks(connection_, locked);
        for (const EventMessage* event : bySeq)
            books[DeviceKey(event->site, event->device)].held(event->seq, now, backfill);
        for (const StateMessage* state : states)
            books[DeviceKey(state->site, state->device)].exists(state->lastSeq, now, backfill);
        StoreEvents(connection_, events, outcome);
        UpsertStates(connection_, states);
        outcome.states = static_cast<int64_t>(states.size());
        SaveBooks(connection_, books);
        return outcome;
    });
}

std::vector<ReplayRequest> EventStore::takeDueReplays(Clock::time_point now, const GapTiming& timing,
                                                      int maxDevices)
{
    return InTransaction(connection_, [&] {
        PgResult locked = connection_.exec(
            kDueDevices, {std::to_string(Micros(now - timing.grace)), std::to_string(Micros(now - timing.retryFirst)),
                          std::to_string(maxDevices)});
        Books books = LoadBooks(connection_, locked);
        std::vector<ReplayRequest> requests;
        for (auto& entry : books)
            for (const SeqRange& range : entry.second.takeDue(now, timing))
                requests.push_back(ReplayRequest{entry.first.first, entry.first.second, range.from, range.to});
        SaveBooks(connection_, books);
        return requests;
    });
}

void EventStore::markUnavailable(const std::string& site, const std::string& device, int64_t from, int64_t to)
{
    InTransaction(connection_, [&] {
        PgResult locked = connection_.exec(kLockOne, {site, device});
        Books books = LoadBooks(connection_, locked);
        for (auto& entry : books)
            entry.second.unavailable(from, to);
        SaveBooks(connection_, books);
        return 0;
    });
}

}  // namespace velta36col
