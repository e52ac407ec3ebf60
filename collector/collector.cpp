#include "collector.h"

#include <algorithm>

#include "schema.h"

namespace velta36col {

Collector::Collector(ConnectionSettings settings, CollectorOptions options)
    : settings_(std::move(settings)), options_(std::move(options)), retryWait_(options_.retryFirst)
{
    CheckSettings(settings_);
    if (settings_.passwordFile)
        ReadPasswordFile(*settings_.passwordFile);
    options_.batchRows = std::max<std::size_t>(options_.batchRows, 1);
    retryAt_ = now();
    nextGapCheck_ = now();
    ready();
}

Collector::~Collector() = default;

Clock::time_point Collector::now() const
{
    return options_.clock ? options_.clock() : Clock::now();
}

void Collector::say(const std::string& line) const
{
    if (options_.log)
        options_.log(line);
}

bool Collector::ready()
{
    if (now() < retryAt_)
        return false;
    if (store_)
        return true;
    try {
        connection_ = std::make_unique<PgConnection>(settings_, "velta36-collect");
        const int before = EnsureSchema(*connection_);
        if (before < kSchemaVersion)
            say("created the collector's tables (version " + std::to_string(before) + " to " +
                std::to_string(kSchemaVersion) + ")");
        store_ = std::make_unique<EventStore>(*connection_);
        ++stats_.connects;
        retryWait_ = options_.retryFirst;
        say("connected to PostgreSQL");
        return true;
    } catch (const PgError& error) {
        failed(error, true);
        return false;
    }
}

void Collector::failed(const std::exception& error, bool dropConnection)
{
    ++stats_.failedAttempts;
    say(std::string(error.what()) + "; trying again in " + std::to_string(retryWait_.count()) + " ms");
    if (dropConnection) {
        store_.reset();
        connection_.reset();
    }
    retryAt_ = now() + retryWait_;
    retryWait_ = std::min(retryWait_ * 2, options_.retryMax);
}

std::optional<Ticket> Collector::push(Pending&& entry)
{
    if (pending_.size() >= options_.maxPending)
        return std::nullopt;
    entry.ticket = nextTicket_++;
    entry.acceptedAt = now();
    pending_.push_back(std::move(entry));
    return pending_.back().ticket;
}

std::optional<Ticket> Collector::accept(const EventMessage& event)
{
    Pending entry{};
    entry.event = event;
    return push(std::move(entry));
}

std::optional<Ticket> Collector::accept(const StateMessage& state)
{
    Pending entry{};
    entry.state = state;
    return push(std::move(entry));
}

bool Collector::commitOne(Committed& committed)
{
    const std::size_t count = std::min(options_.batchRows, pending_.size());
    std::vector<const EventMessage*> events;
    std::vector<const StateMessage*> states;
    for (std::size_t i = 0; i < count; ++i) {
        if (pending_[i].event)
            events.push_back(&*pending_[i].event);
        else
            states.push_back(&*pending_[i].state);
    }
    BatchOutcome outcome;
    try {
        outcome = store_->write(events, states, now(), options_.backfill);
    } catch (const PgError& error) {
        // Nothing of the batch is kept: it stays pending, unacknowledged,
        // and goes again after the wait (on a new connection if this one
        // is gone). Writing it twice is harmless: duplicates are no-ops.
        failed(error, error.lostConnection() || connection_->broken());
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        committed.tickets.push_back(pending_.front().ticket);
        pending_.pop_front();
    }
    committed.inserted += outcome.inserted;
    committed.duplicates += outcome.duplicates;
    committed.states += outcome.states;
    stats_.inserted += outcome.inserted;
    stats_.duplicates += outcome.duplicates;
    stats_.states += outcome.states;
    ++stats_.batches;
    retryWait_ = options_.retryFirst;
    return true;
}

Committed Collector::poll()
{
    Committed committed;
    if (!ready())
        return committed;
    while (!pending_.empty() &&
           (pending_.size() >= options_.batchRows || now() >= pending_.front().acceptedAt + options_.batchDelay)) {
        if (!commitOne(committed))
            return committed;
    }
    if (now() >= nextGapCheck_) {
        checkGaps();
        nextGapCheck_ = now() + options_.gapCheckEvery;
    }
    return committed;
}

Committed Collector::flush()
{
    Committed committed;
    while (!pending_.empty() && ready())
        if (!commitOne(committed))
            break;
    return committed;
}

void Collector::checkGaps()
{
    if (!store_)
        return;
    std::vector<ReplayRequest> requests;
    try {
        requests = store_->takeDueReplays(now(), options_.gaps);
    } catch (const PgError& error) {
        failed(error, error.lostConnection() || connection_->broken());
        return;
    }
    for (const ReplayRequest& request : requests) {
        ++stats_.replaysAsked;
        say("asking " + request.site + "/" + request.device + " to replay " + std::to_string(request.from) +
            ".." + std::to_string(request.to));
        if (options_.requestReplay)
            options_.requestReplay(request);
    }
}

Committed Collector::replayAnswered(const ReplayAnswer& answer)
{
    Committed committed = flush();
    if (!pending_.empty() || !store_)
        return committed;   // asked again after the retry wait, answered again then
    std::vector<SeqRange> missing;
    if (answer.from < 1 || answer.to < answer.from) {
        say("ignoring a replay answer for an empty range");
    } else if (answer.count == 0) {
        missing.push_back(SeqRange{answer.from, answer.to});
    } else if (answer.first && answer.last && answer.from <= *answer.first && *answer.first <= *answer.last &&
               *answer.last <= answer.to) {
        if (*answer.first > answer.from)
            missing.push_back(SeqRange{answer.from, *answer.first - 1});
        if (*answer.last < answer.to)
            missing.push_back(SeqRange{*answer.last + 1, answer.to});
    } else {
        say("ignoring a replay answer whose first and last lie outside its range");
    }
    try {
        for (const SeqRange& range : missing)
            store_->markUnavailable(answer.site, answer.device, range.from, range.to);
    } catch (const PgError& error) {
        failed(error, error.lostConnection() || connection_->broken());
    }
    return committed;
}

Clock::time_point Collector::nextWake() const
{
    Clock::time_point wake = nextGapCheck_;
    if (!pending_.empty()) {
        const Clock::time_point due = pending_.size() >= options_.batchRows
                                          ? pending_.front().acceptedAt
                                          : pending_.front().acceptedAt + options_.batchDelay;
        wake = std::min(wake, due);
    }
    // Nothing can be done before the wait after a failure is over.
    return std::max(wake, retryAt_);
}

}  // namespace velta36col
