#include "event_assigner.h"

#include <pthread.h>

#include <cinttypes>
#include <cstdio>
#include <random>

#include "messages.h"

namespace velta36up {

namespace {

std::string NewEpoch(std::mt19937_64& random)
{
    char text[17];
    std::snprintf(text, sizeof(text), "%016" PRIx64, static_cast<uint64_t>(random()));
    return text;
}

}  // namespace

EventAssigner::EventAssigner(AssignerOptions options)
    : options_(std::move(options)), outbox_(options_.stateFolder), source_(options_.eventDatabase),
      random_(std::random_device{}())
{
    for (const DeviceInfo& device : options_.devices)
        deviceByDataId_[device.dataId] = device.id;
    const std::map<std::string, int64_t> seqs = outbox_.lastSeqs();
    for (const DeviceInfo& device : options_.devices) {
        auto seq = seqs.find(device.id);
        counts_[device.id].lastSeq = seq == seqs.end() ? 0 : seq->second;
    }
    position_ = outbox_.source();
    lastN_ = outbox_.lastN();
}

EventAssigner::~EventAssigner()
{
    finish();
    join();
}

void EventAssigner::start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] {
            ::pthread_setname_np(::pthread_self(), "velta36-reader");
            run();
        });
}

void EventAssigner::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_one();
}

void EventAssigner::finish()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
    }
    wakeUp_.notify_one();
}

void EventAssigner::join()
{
    if (thread_.joinable())
        thread_.join();
}

void EventAssigner::run()
{
    for (;;) {
        bool last;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wakeUp_.wait_for(lock, options_.poll, [this] { return woken_ || finishing_; });
            woken_ = false;
            last = finishing_;
        }
        while (readPage()) {
        }
        if (last)
            break;
    }
    if (options_.finished)
        options_.finished();
}

bool EventAssigner::readPage()
{
    if (!source_.open())
        return false;
    try {
        SourcePosition position = position_;
        std::string why;
        if (position.epoch.empty()) {
            why = options_.freshState ? "no earlier upstream state" : "first reading";
        } else if (position.fileId != source_.fileId()) {
            why = "ZRMDevice.db was replaced";
        } else if (position.row > 0) {
            const std::optional<SourceRow> row = source_.row(position.row);
            if (!row || EventSource::Fingerprint(*row) != position.fingerprint)
                why = "the event table was made anew";
        }
        Assigned assigned;
        if (!why.empty()) {
            position = SourcePosition{source_.fileId(), NewEpoch(random_), 0, std::string()};
            outbox_.setSource(position);
            position_ = position;
            countsKnown_ = false;
            options_.log("upstream: reading the events as epoch " + position.epoch + " (" + why + ")");
        }
        if (!countsKnown_) {
            // The rows read so far; each row read from here on adds one.
            const std::map<int64_t, int64_t> stored = source_.countsByDataId(position.row);
            for (auto& [id, counts] : counts_) {
                int64_t dataId = 0;
                for (const DeviceInfo& device : options_.devices)
                    dataId = device.id == id ? device.dataId : dataId;
                auto count = stored.find(dataId);
                counts.eventsStored = count == stored.end() ? 0 : count->second;
                assigned.devices[id] = counts;
            }
            countsKnown_ = true;
        }
        const std::vector<SourceRow> rows = source_.after(position.row, options_.pageRows);
        if (failing_) {
            failing_ = false;
            options_.log("upstream: reading ZRMDevice.db again");
        }
        std::vector<OutboxEntry> entries;
        std::map<std::string, Assigned::Counts> counts = counts_;
        for (const SourceRow& row : rows) {
            auto owner = deviceByDataId_.find(row.dataId);
            if (owner == deviceByDataId_.end()) {
                if (unknownDataIds_.insert(row.dataId).second)
                    options_.log("upstream: rows of data id " + std::to_string(row.dataId) +
                                 " belong to no configured device; they are not published");
                continue;
            }
            Assigned::Counts& device = counts[owner->second];
            OutboxEntry entry;
            entry.n = lastN_ + static_cast<int64_t>(entries.size()) + 1;
            entry.device = owner->second;
            entry.seq = ++device.lastSeq;
            ++device.eventsStored;
            entry.payload = EventPayload(EventIdentity{options_.site, entry.device, entry.seq, position.epoch}, row);
            entries.push_back(std::move(entry));
            assigned.devices[owner->second] = device;
        }
        if (!rows.empty()) {
            position.row = rows.back().id;
            position.fingerprint = EventSource::Fingerprint(rows.back());
            // Durable before anything is sent: a crash after this commit
            // sends these rows with these numbers; one before it reads them
            // again.
            outbox_.append(entries, position);
            position_ = position;
            lastN_ += static_cast<int64_t>(entries.size());
            counts_ = counts;
        }
        if (!assigned.devices.empty() || !entries.empty()) {
            assigned.lastN = lastN_;
            options_.assigned(assigned);
        }
        return rows.size() == static_cast<std::size_t>(options_.pageRows);
    } catch (const std::exception& e) {
        if (!failing_)
            options_.log(std::string("upstream: cannot read new events yet (") + e.what() + "); trying again");
        failing_ = true;
        return false;
    }
}

}  // namespace velta36up
