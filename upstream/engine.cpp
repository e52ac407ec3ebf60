#include "engine.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mosquitto.h>

#include <cinttypes>
#include <cstdio>
#include <iostream>

namespace velta36up {

namespace {

// Reason codes below 0x80 are successes (0x10: no subscriber matched).
bool Success(int reason)
{
    return reason < 0x80;
}

const auto kConnectTimeout = std::chrono::seconds(15);
const auto kAckPersistInterval = std::chrono::milliseconds(200);
const auto kIdleTick = std::chrono::milliseconds(1000);

int64_t MillisSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

std::string Seconds(Clock::duration d)
{
    char text[32];
    const double seconds = std::chrono::duration<double>(d).count();
    std::snprintf(text, sizeof(text), seconds < 10 ? "%.1f s" : "%.0f s", seconds);
    return text;
}

}  // namespace

Upstream::Impl::Impl(UpstreamOptions options)
    : options_(std::move(options)),
      topics_(options_.settings.topicPrefix, options_.settings.site),
      random_(std::random_device{}())
{
    const UpstreamSettings& s = options_.settings;
    if (options_.window < 1 || options_.pageRows < 1)
        throw SettingsError("mqtt: the window and the page must hold at least one event");
    for (const DeviceInfo& info : options_.devices) {
        if (!IsTopicSafe(info.id))
            throw SettingsError("mqtt: device id \"" + info.id + "\" must be 1 to 64 of A-Z a-z 0-9 _ -");
        if (info.doors != 1 && info.doors != 2)
            throw SettingsError("mqtt: device " + info.id + " must have 1 or 2 doors");
        if (info.id == "request" || info.id == "response" || info.id == "status")
            throw SettingsError("mqtt: device id \"" + info.id + "\" is one of the site's own topic names");
        if (devices_.count(info.id))
            throw SettingsError("mqtt: two devices have the id \"" + info.id + "\"");
        for (const auto& [id, other] : devices_) {
            if (other.info.dataId == info.dataId)
                throw SettingsError("mqtt: devices " + id + " and " + info.id + " share data id " +
                                    std::to_string(info.dataId));
        }
        Device device;
        device.info = info;
        device.state.doors = info.doors;
        devices_[info.id] = device;
    }
    sessionConfig_.broker = s.broker;
    sessionConfig_.clientId = s.clientId;
    sessionConfig_.username = s.username;
    if (s.passwordFile)
        sessionConfig_.password = ReadPasswordFile(*s.passwordFile);
    sessionConfig_.caFile = s.caFile;
    sessionConfig_.certFile = s.certFile;
    sessionConfig_.keyFile = s.keyFile;
    if (s.keyFile)
        CheckPrivateFile(*s.keyFile, "client key");
    sessionConfig_.willTopic = topics_.status();

    outbox_.reset(new Outbox(options_.stateFolder));
    lastN_ = startN_ = outbox_->lastN();
    ackedUpTo_ = ackedPersisted_ = sentUpTo_ = outbox_->acknowledged();
    for (const auto& [id, seq] : outbox_->lastSeqs()) {
        auto it = devices_.find(id);
        if (it != devices_.end())
            it->second.state.lastSeq = seq;
    }
    backlog_ = static_cast<uint64_t>(lastN_ - ackedUpTo_);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error("upstream: cannot make its wake-up descriptor");

    AssignerOptions reader;
    reader.eventDatabase = options_.eventDatabase;
    reader.stateFolder = options_.stateFolder;
    reader.site = s.site;
    reader.devices = options_.devices;
    reader.pageRows = options_.pageRows;
    reader.poll = options_.sourcePoll;
    reader.freshState = outbox_->fresh();
    reader.log = [this](const std::string& line) { log(line); };
    reader.assigned = [this](const Assigned& assigned) {
        note([assigned](Impl& impl) { impl.applyAssigned(assigned); });
    };
    reader.finished = [this] { note([](Impl& impl) { impl.readAfterStop_ = true; }); };
    assigner_.reset(new EventAssigner(reader));
}

Upstream::Impl::~Impl()
{
    stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void Upstream::Impl::log(const std::string& line)
{
    std::lock_guard<std::mutex> lock(logMutex_);
    if (options_.log)
        options_.log(line);
    else
        std::cerr << line << std::endl;
}

void Upstream::Impl::start()
{
    if (thread_.joinable())
        return;
    assigner_->start();
    thread_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "velta36-mqtt");   // for top -H and perf
        run();
    });
}

void Upstream::Impl::stop()
{
    {
        std::lock_guard<std::mutex> lock(factsMutex_);
        stopRequested_ = true;
    }
    wake();
    if (thread_.joinable())
        thread_.join();
    assigner_->finish();
    assigner_->join();
}

void Upstream::Impl::wake()
{
    const uint64_t one = 1;
    const ssize_t written = ::write(wakeFd_, &one, sizeof(one));
    (void)written;   // the counter is already non-zero when this fails
}

void Upstream::Impl::note(std::function<void(Impl&)> fact)
{
    {
        std::lock_guard<std::mutex> lock(factsMutex_);
        facts_.push_back(std::move(fact));
    }
    wake();
}

void Upstream::Impl::takeFacts()
{
    std::vector<std::function<void(Impl&)>> facts;
    {
        std::lock_guard<std::mutex> lock(factsMutex_);
        facts.swap(facts_);
        if (stopRequested_ && !stopping_) {
            stopping_ = true;
            stopDeadline_ = Clock::now() + options_.stopGrace;
            assigner_->finish();   // reads what is left, then says so
            if (!session_)
                nextAttempt_ = Clock::now();   // one more try at once
        }
    }
    for (auto& fact : facts)
        fact(*this);
}

UpstreamStats Upstream::Impl::stats() const
{
    UpstreamStats s;
    s.connected = connectedFigure_;
    s.connectAttempts = attempts_;
    s.assigned = assigned_;
    s.published = publishedCount_;
    s.acknowledged = acknowledged_;
    s.refusedAcks = refusedAcks_;
    s.backlog = backlog_;
    s.replayed = replayed_;
    s.commandsCarriedOut = carriedOut_;
    s.commandsRefused = refused_;
    const int64_t last = lastAckMs_;
    if (last >= 0)
        s.lastAckAgeSeconds = (MillisSince(Clock::now()) - last) / 1000.0;
    return s;
}

// --- facts ------------------------------------------------------------------

void Upstream::Impl::applyDoors(const std::string& id, DoorState door1, DoorState door2)
{
    auto it = devices_.find(id);
    if (it == devices_.end())
        return;
    DeviceState& state = it->second.state;
    if (state.door1 != door1 || (state.doors == 2 && state.door2 != door2)) {
        state.door1 = door1;
        state.door2 = door2;
        it->second.dirty = it->second.urgent = true;
    }
}

void Upstream::Impl::applyRound(const std::string& id, WallClock::time_point when)
{
    auto it = devices_.find(id);
    if (it == devices_.end())
        return;
    it->second.state.lastRound = when;
    it->second.dirty = true;
    if (!it->second.state.online)
        it->second.state.online = it->second.urgent = true;
}

void Upstream::Impl::applyTimeout(const std::string& id)
{
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second.state.online)
        return;
    it->second.state.online = false;
    it->second.dirty = it->second.urgent = true;
}

void Upstream::Impl::applyFault(const std::string& id, bool faulty)
{
    auto it = devices_.find(id);
    if (it == devices_.end() || it->second.state.databaseFault == faulty)
        return;
    it->second.state.databaseFault = faulty;
    it->second.dirty = it->second.urgent = true;
}

void Upstream::Impl::eventsMayHaveArrived()
{
    assigner_->wake();
}

void Upstream::Impl::applyAssigned(const Assigned& assigned)
{
    lastN_ = std::max(lastN_, assigned.lastN);
    for (const auto& [id, counts] : assigned.devices) {
        auto it = devices_.find(id);
        if (it == devices_.end())
            continue;
        it->second.state.lastSeq = counts.lastSeq;
        it->second.state.eventsStored = counts.eventsStored;
        it->second.dirty = true;
    }
    assigned_ = static_cast<uint64_t>(lastN_ - startN_);
    backlog_ = static_cast<uint64_t>(lastN_ - ackedUpTo_);
}

// --- the loop -----------------------------------------------------------------

void Upstream::Impl::run()
{
    for (;;) {
        try {
            if (!iterate())
                break;
            stateFailure_.clear();
        } catch (const std::exception& e) {
            // The state file failing (disk full, I/O error): said once, and
            // tried again a second later; nothing is lost, as nothing
            // passes the cursor meanwhile.
            const std::string line = std::string("upstream: ") + e.what() + "; trying again";
            if (line != stateFailure_)
                log(line);
            stateFailure_ = line;
            pollfd fd{wakeFd_, POLLIN, 0};
            ::poll(&fd, 1, 1000);
        }
    }
    finishRun();
}

bool Upstream::Impl::iterate()
{
    takeFacts();
    const Clock::time_point now = Clock::now();
    connectIfDue(now);
    if (session_ && online_)
        publishDue(now);
    persistAcknowledged(now, false);
    checkCommands(now);
    if (stopping_ && stopFinished(now))
        return false;

    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    nfds_t count = 1;
    if (session_ && session_->socket() >= 0) {
        fds[1].fd = session_->socket();
        fds[1].events = static_cast<short>(POLLIN | (session_->wantWrite() ? POLLOUT : 0));
        count = 2;
    }
    ::poll(fds, count, pollTimeout(now));
    if (fds[0].revents & POLLIN) {
        uint64_t counter;
        const ssize_t got = ::read(wakeFd_, &counter, sizeof(counter));
        (void)got;
    }
    if (session_) {
        bool ok = true;
        if (count == 2 && (fds[1].revents & (POLLIN | POLLERR | POLLHUP)))
            ok = session_->read();
        if (ok && session_->wantWrite())
            ok = session_->write();
        if (ok)
            ok = session_->misc();
        if (ok && !online_ && !dropSession_ && Clock::now() - attemptStarted_ > kConnectTimeout) {
            lose("no answer from the broker within " + Seconds(kConnectTimeout));
        } else if (!ok || dropSession_) {
            lose(session_->error());
        }
    }
    handleIncoming();
    return true;
}

void Upstream::Impl::finishRun()
{
    try {
        persistAcknowledged(Clock::now(), true);
    } catch (const std::exception& e) {
        log(std::string("upstream: ") + e.what());
    }
    session_.reset();
    connectedFigure_ = false;
    const int64_t left = lastN_ - ackedUpTo_;
    if (left == 0)
        log("upstream: stopped; every stored event was acknowledged by the broker");
    else
        log("upstream: stopped with " + std::to_string(left) +
            " events not acknowledged by the broker; they go out at the next start");
}

int Upstream::Impl::pollTimeout(Clock::time_point now) const
{
    Clock::time_point until = now + kIdleTick;
    auto sooner = [&until](Clock::time_point t) {
        if (t < until)
            until = t;
    };
    if (!session_)
        sooner(nextAttempt_);
    if (ackedUpTo_ != ackedPersisted_)
        sooner(ackPersistedAt_ + kAckPersistInterval);
    if (held_)
        sooner(heldUntil_);
    if (discoveryDue_)
        sooner(discoveryAt_);
    if (stopping_)
        sooner(offlineSent_ ? offlineDeadline_ : stopDeadline_);
    if (!commands_.empty())
        sooner(now + std::chrono::milliseconds(20));   // futures have no descriptor to wait on
    for (const auto& [id, device] : devices_) {
        if (device.dirty && online_)
            sooner(device.urgent ? now : device.lastPublished + options_.stateInterval);
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
    return ms < 0 ? 0 : static_cast<int>(ms) + 1;
}

bool Upstream::Impl::stopFinished(Clock::time_point now)
{
    // The reader's last reading is local and short: always waited for, so
    // the final count is true.
    if (!readAfterStop_)
        return false;
    if (!offlineSent_) {
        const bool drained = readAfterStop_ && ackedUpTo_ >= lastN_;
        if (!(drained && online_) && now < stopDeadline_ && !gaveUp_)
            return false;
        if (!online_)
            return true;
        send(topics_.status(), "offline", true, InFlight{Flight::Offline, 0, std::string()});
        offlineSent_ = true;
        offlineDeadline_ = now + options_.offlineGrace;
        return false;
    }
    if (online_ && !offlineAcked_ && now < offlineDeadline_)
        return false;
    if (session_) {
        session_->disconnect();
        session_->write();
    }
    return true;
}

// --- the connection --------------------------------------------------------------

void Upstream::Impl::connectIfDue(Clock::time_point now)
{
    if (session_ || now < nextAttempt_ || gaveUp_)
        return;
    ++attempts_;
    refusedReason_ = 0;
    dropSession_ = false;
    attemptStarted_ = now;
    try {
        session_.reset(new MqttSession(sessionConfig_, *this));
    } catch (const std::exception& e) {
        attemptFailed(e.what());
    }
}

void Upstream::Impl::connected(int reason)
{
    if (reason != 0) {
        refusedReason_ = reason;
        dropSession_ = true;
        return;
    }
    online_ = true;
    connectedFigure_ = true;
    failures_ = 0;
    lastFailure_.clear();
    const int64_t waiting = lastN_ - ackedUpTo_;
    if (!everConnected_)
        log("upstream: connected to " + options_.settings.url + " as site " + options_.settings.site);
    else
        log("upstream: back on " + options_.settings.url + " after " + Seconds(Clock::now() - lostAt_) + "; " +
            std::to_string(waiting) + " events to send");
    everConnected_ = true;
    session_->subscribe(topics_.requests());
    session_->subscribe(topics_.presses());
    if (options_.settings.discovery)
        session_->subscribe(options_.settings.discoveryPrefix + "/status");
    statusSent_ = false;
    for (auto& [id, device] : devices_)
        device.dirty = device.urgent = true;
    if (!discoveryDone_) {
        discoveryDue_ = true;
        discoveryAt_ = Clock::now();
    }
}

void Upstream::Impl::lose(std::string why)
{
    const bool wasOnline = online_;
    session_.reset();
    online_ = false;
    connectedFigure_ = false;
    flights_.clear();
    eventsInFlight_ = 0;
    page_.clear();
    sentUpTo_ = ackedUpTo_;
    held_ = false;
    if (wasOnline) {
        lostAt_ = Clock::now();
        log("upstream: lost the connection to " + options_.settings.url + " (" + why +
            "); events are kept and go out once it is back");
        if (stopping_)
            gaveUp_ = true;
        scheduleRetry();
    } else {
        attemptFailed(why);
    }
}

void Upstream::Impl::attemptFailed(std::string why)
{
    session_.reset();
    std::string line;
    if (refusedReason_ != 0) {
        line = "the broker at " + options_.settings.url + " refused the connection: " +
               mosquitto_reason_string(refusedReason_);
        if (refusedReason_ == 0x86 || refusedReason_ == 0x87 || refusedReason_ == 0x04 || refusedReason_ == 0x05)
            line += " (check username and password_file)";
    } else if (why.find("OpenSSL") != std::string::npos || why.find("certificate") != std::string::npos) {
        line = "TLS with " + options_.settings.url + " failed: " + why + " (is ca_file the CA of the broker's certificate?)";
    } else {
        line = "cannot connect to " + options_.settings.url + ": " + why;
    }
    if (line != lastFailure_)
        log("upstream: " + line + "; trying again, backing off up to " + Seconds(options_.retryMax));
    lastFailure_ = line;
    if (stopping_)
        gaveUp_ = true;
    scheduleRetry();
}

void Upstream::Impl::scheduleRetry()
{
    auto delay = options_.retryFirst;
    for (int i = 0; i < failures_ && delay < options_.retryMax; ++i)
        delay *= 2;
    if (delay > options_.retryMax)
        delay = options_.retryMax;
    ++failures_;
    // Jitter: sites that lost one broker together do not come back together.
    std::uniform_real_distribution<double> jitter(0.5, 1.0);
    nextAttempt_ = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(delay.count() * jitter(random_)));
}

// --- publishing --------------------------------------------------------------------

bool Upstream::Impl::send(const std::string& topic, const std::string& payload, bool retain, InFlight flight)
{
    const std::optional<int> mid = session_->publish(topic, payload, retain);
    if (!mid)
        return false;
    flights_[*mid] = std::move(flight);
    return true;
}

void Upstream::Impl::publishDue(Clock::time_point now)
{
    if (!statusSent_)
        statusSent_ = send(topics_.status(), "online", true, InFlight{});
    if (discoveryDue_ && now >= discoveryAt_)
        publishDiscovery();
    publishStates(now);
    while (!responses_.empty() && session_) {
        if (!send(responses_.front().first, responses_.front().second, false, InFlight{}))
            break;
        responses_.pop_front();
    }
    publishReplays();
    if (held_ && now >= heldUntil_ && eventsInFlight_ == 0) {
        // Send again from the first unacknowledged event.
        held_ = false;
        sentUpTo_ = ackedUpTo_;
        page_.clear();
    }
    if (!held_)
        publishEvents();
}

void Upstream::Impl::publishStates(Clock::time_point now)
{
    // At a clean stop the retained state is brought up to date at once (the
    // last rows' counts), before "offline": it is what a dashboard keeps.
    const bool final = stopping_ && readAfterStop_;
    for (auto& [id, device] : devices_) {
        if (!device.dirty || (!device.urgent && !final && now < device.lastPublished + options_.stateInterval))
            continue;
        if (!send(topics_.state(id),
                  StatePayload(options_.settings.site, id, device.info.dataId, device.state), true, InFlight{}))
            return;
        device.dirty = device.urgent = false;
        device.lastPublished = now;
    }
}

void Upstream::Impl::publishDiscovery()
{
    discoveryDue_ = false;
    discoveryDone_ = true;
    std::set<std::string> published = outbox_->discoveryTopics();
    if (options_.settings.discovery) {
        const bool open = options_.settings.allowed.count(kKindOpenDoor) > 0;
        for (const auto& [id, device] : devices_) {
            for (const DiscoveryMessage& message : DiscoveryFor(options_.settings.discoveryPrefix, topics_,
                                                                options_.settings.site, device.info, open)) {
                outbox_->addDiscoveryTopic(message.topic);
                send(message.topic, message.payload, true, InFlight{});
                published.erase(message.topic);
            }
        }
    }
    // What is left was published for a device, or an entity, that is gone.
    for (const std::string& topic : published)
        send(topic, std::string(), true, InFlight{Flight::Removal, 0, topic});
}

void Upstream::Impl::publishReplays()
{
    while (!replays_.empty() && eventsInFlight_ < options_.window) {
        ReplayJob& job = replays_.front();
        const int room = options_.window - eventsInFlight_;
        const std::vector<OutboxEntry> entries = outbox_->range(job.device, job.next, job.to, room);
        for (const OutboxEntry& entry : entries) {
            if (!send(topics_.event(entry.device), ReplayedPayload(entry.payload), false,
                      InFlight{Flight::Replay, entry.n, std::string()}))
                return;
            ++eventsInFlight_;
            ++replayed_;
            job.response.count = *job.response.count + 1;
            if (!job.response.first)
                job.response.first = entry.seq;
            job.response.last = entry.seq;
            job.next = entry.seq + 1;
        }
        if (static_cast<int>(entries.size()) == room && job.next <= job.to)
            return;   // more of it once the window has room
        // Everything found went out before the response.
        Response response = job.response;
        replays_.pop_front();
        respond(response, "ok", std::string());
    }
}

void Upstream::Impl::publishEvents()
{
    while (eventsInFlight_ < options_.window) {
        if (page_.empty()) {
            if (sentUpTo_ >= lastN_)
                return;
            for (OutboxEntry& entry : outbox_->after(sentUpTo_, std::max(options_.window, 200)))
                page_.push_back(std::move(entry));
            if (page_.empty())
                return;
        }
        const OutboxEntry& entry = page_.front();
        if (!send(topics_.event(entry.device), entry.payload, false, InFlight{Flight::Event, entry.n, std::string()}))
            return;
        ++eventsInFlight_;
        ++publishedCount_;
        sentUpTo_ = entry.n;
        page_.pop_front();
    }
}

void Upstream::Impl::published(int mid, int reason)
{
    auto it = flights_.find(mid);
    if (it == flights_.end())
        return;
    const InFlight flight = std::move(it->second);
    flights_.erase(it);
    switch (flight.kind) {
    case Flight::Event:
        --eventsInFlight_;
        if (Success(reason)) {
            ackedAhead_.insert(flight.n);
            while (!ackedAhead_.empty() && *ackedAhead_.begin() <= ackedUpTo_ + 1) {
                ackedUpTo_ = std::max(ackedUpTo_, *ackedAhead_.begin());
                ackedAhead_.erase(ackedAhead_.begin());
            }
            ++acknowledged_;
            lastAckMs_ = MillisSince(Clock::now());
            backlog_ = static_cast<uint64_t>(lastN_ - ackedUpTo_);
            if (refusalLogged_) {
                refusalLogged_ = false;
                log("upstream: the broker accepts events again");
            }
        } else {
            // The cursor stays before it; everything from it is sent again
            // after a pause (duplicates of what was accepted meanwhile are
            // dropped by their id downstream).
            ++refusedAcks_;
            if (!refusalLogged_)
                log(std::string("upstream: the broker refused an event (") + mosquitto_reason_string(reason) +
                    "); events are kept and sent again every " + Seconds(options_.refusedRetry));
            refusalLogged_ = true;
            held_ = true;
            heldUntil_ = Clock::now() + options_.refusedRetry;
        }
        break;
    case Flight::Replay:
        --eventsInFlight_;
        break;
    case Flight::Removal:
        // Inside libmosquitto's call: nothing may be thrown through it.
        try {
            if (Success(reason))
                outbox_->removeDiscoveryTopic(flight.topic);
        } catch (const std::exception& e) {
            log(std::string("upstream: ") + e.what());
        }
        break;
    case Flight::Offline:
        offlineAcked_ = true;
        break;
    case Flight::Other:
        break;
    }
}

void Upstream::Impl::persistAcknowledged(Clock::time_point now, bool force)
{
    if (ackedUpTo_ == ackedPersisted_ || (!force && now < ackPersistedAt_ + kAckPersistInterval))
        return;
    try {
        outbox_->setAcknowledged(ackedUpTo_);
        ackedPersisted_ = ackedUpTo_;
        ackPersistedAt_ = now;
        ackFailing_ = false;
    } catch (const std::exception& e) {
        // Kept in memory; written at the next chance. A crash meanwhile
        // sends these again, which costs duplicates, not events.
        if (!ackFailing_)
            log(std::string("upstream: cannot keep the cursor yet (") + e.what() + ")");
        ackFailing_ = true;
        ackPersistedAt_ = now;
    }
}

}  // namespace velta36up
