#include "collector_session.h"

#include <json/json.h>
#include <mqtt_protocol.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>

namespace velta36col {

namespace {

// Reading pauses while this many accepted messages wait uncommitted below
// the Collector's limit: one read takes at most 1,000 packets.
const std::size_t kReadMargin = 1000;
// Reads in one turn of the loop at most, so that batches due are committed
// (and the PUBACKs written) even while messages keep coming.
const int kReadsPerTurn = 500;

std::string RandomTag()
{
    std::random_device device;
    char text[17];
    std::snprintf(text, sizeof(text), "%08x%08x", device(), device());
    return text;
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

// The levels of a topic, split at '/'.
std::vector<std::string> Levels(const std::string& topic)
{
    std::vector<std::string> levels;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash - start));
        if (slash == std::string::npos)
            return levels;
        start = slash + 1;
    }
}

bool ParseCount(const std::string& text, int64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return true;
}

std::optional<int64_t> OptionalInteger(const Json::Value& root, const char* key)
{
    const Json::Value& value = root[key];
    if (value.isInt64())
        return value.asInt64();
    return std::nullopt;
}

}  // namespace

std::vector<std::string> CollectorFilters(const std::string& prefix, const std::optional<std::string>& group)
{
    // States are never shared: they are few (one per device at most every
    // 10 s), each is the only news of a device's last seqs when no event
    // follows, and only a plain subscription gets them retained at
    // subscribe time. A state handed to a member that just died would hide
    // the tail of a device from the rest of the group.
    const std::string share = group ? "$share/" + *group + "/" : "";
    return {share + prefix + "/+/+/event", prefix + "/+/+/state", share + prefix + "/+/response/replay"};
}

std::string ReplayTransaction(int64_t from, int64_t to, const std::string& tag)
{
    return "r-" + std::to_string(from) + "-" + std::to_string(to) + "-" + tag;
}

bool ParseReplayTransaction(const std::string& transaction, int64_t& from, int64_t& to)
{
    const std::vector<std::string> parts = Levels([&] {
        std::string text = transaction;
        std::replace(text.begin(), text.end(), '-', '/');
        return text;
    }());
    return parts.size() == 4 && parts[0] == "r" && ParseCount(parts[1], from) && ParseCount(parts[2], to) &&
           from >= 1 && from <= to;
}

CollectorSession::CollectorSession(CollectSettings settings, ConnectionSettings database, CollectorOptions options)
    : settings_(std::move(settings)), log_(options.log), tag_(RandomTag()),
      reconnectWait_(settings_.reconnectFirst)
{
    maxPending_ = std::max(options.maxPending, kReadMargin + 1);
    options.maxPending = maxPending_;
    // Called on the writer thread, inside poll().
    options.requestReplay = [this](const ReplayRequest& request) {
        std::lock_guard<std::mutex> lock(mutex_);
        replays_.push_back(request);
    };
    collector_ = std::make_unique<Collector>(std::move(database), std::move(options));
    settings_.session.sessionExpirySeconds = settings_.sessionExpirySeconds;
    if (!settings_.session.receiveMaximum)
        settings_.session.receiveMaximum = 1000;
    reconnectAt_ = Clock::now();
    if (::pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
}

CollectorSession::~CollectorSession()
{
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

CollectorStats CollectorSession::collectorStats() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return collectorStats_;
}

void CollectorSession::wakeNetwork()
{
    const char byte = 1;
    if (::write(wakePipe_[1], &byte, 1) < 0) {
        // Full: the loop is woken already.
    }
}

void CollectorSession::hand(Item&& item)
{
    parsed_.push_back(std::move(item));
}

void CollectorSession::handOver()
{
    if (parsed_.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Item& item : parsed_)
            inbox_.push_back(std::move(item));
        backlog_ += parsed_.size();
    }
    parsed_.clear();
    wake_.notify_one();
}

void CollectorSession::writerLoop()
{
    std::deque<Item> work;
    while (true) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const Clock::time_point wake = std::min(collector_->nextWake(), Clock::now() + std::chrono::milliseconds(100));
            wake_.wait_until(lock, wake, [&] { return stopping_ || !inbox_.empty(); });
            if (stopping_ && inbox_.empty() && work.empty())
                break;
            while (!inbox_.empty()) {
                work.push_back(std::move(inbox_.front()));
                inbox_.pop_front();
            }
        }
        // What the Collector refuses (full) waits here, in order, for the
        // next turn; the network loop stops reading long before that.
        while (!work.empty()) {
            Item& item = work.front();
            if (item.answer) {
                collector_->replayAnswered(*item.answer);
            } else if (item.event ? !collector_->accept(*item.event) : !collector_->accept(*item.state)) {
                break;
            }
            work.pop_front();
        }
        collector_->poll();
        bool asked = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            backlog_ = collector_->pending() + work.size() + inbox_.size();
            collectorStats_ = collector_->stats();
            asked = !replays_.empty();
        }
        if (asked)
            wakeNetwork();
    }
    collector_->flush();
    std::lock_guard<std::mutex> lock(mutex_);
    collectorStats_ = collector_->stats();
}

void CollectorSession::say(const std::string& line) const
{
    if (log_)
        log_(line);
}

void CollectorSession::tryConnect()
{
    subscribed_ = false;
    try {
        session_ = std::make_unique<velta36up::MqttSession>(settings_.session, static_cast<velta36up::SessionEvents&>(*this));
    } catch (const std::exception& error) {
        session_.reset();
        lose(std::string("cannot connect to the broker: ") + error.what());
    }
}

void CollectorSession::lose(std::string why)
{
    if (session_ && subscribed_) {
        ++stats_.brokerLosses;
        lostAt_ = Clock::now();
    }
    session_.reset();
    subscribed_ = false;
    say("lost the broker (" + why + "); trying again in " + std::to_string(reconnectWait_.count()) + " ms");
    reconnectAt_ = Clock::now() + reconnectWait_;
    reconnectWait_ = std::min(reconnectWait_ * 2, settings_.reconnectMax);
}

void CollectorSession::connected(int reason)
{
    if (reason != 0) {
        subscribed_ = false;
        say("the broker refused the connection (reason " + std::to_string(reason) + ")");
        return;
    }
    // Subscribing again on every connect is harmless with a kept session
    // and needed when the broker lost it (restarted without persistence).
    // States come retained at subscribe time: a state's last_seq shows what
    // was lost while we were away. No Local is left off: MQTT 5 forbids it
    // on a shared subscription.
    bool ok = true;
    for (const std::string& filter : CollectorFilters(settings_.topicPrefix, settings_.shareGroup))
        ok = session_->subscribe(filter, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED) && ok;
    if (!ok)
        return;
    subscribed_ = true;
    ++stats_.brokerConnects;
    reconnectWait_ = settings_.reconnectFirst;
    const std::string where = settings_.session.broker.host + ":" + std::to_string(settings_.session.broker.port);
    if (lostAt_) {
        const auto away = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *lostAt_);
        say("back on the broker at " + where + " after " + std::to_string(away.count()) + " ms");
        lostAt_.reset();
    } else {
        say("connected to the broker at " + where + " as " + settings_.session.clientId +
            (settings_.shareGroup ? " (shared group " + *settings_.shareGroup + ")" : ""));
    }
}

void CollectorSession::published(int, int) {}

void CollectorSession::received(const velta36up::IncomingMessage& message)
{
    const std::vector<std::string> levels = Levels(message.topic);
    const std::vector<std::string> prefix = Levels(settings_.topicPrefix);
    if (levels.size() != prefix.size() + 3 || !std::equal(prefix.begin(), prefix.end(), levels.begin()))
        return;
    const std::string& site = levels[prefix.size()];
    const std::string& middle = levels[prefix.size() + 1];
    const std::string& last = levels[prefix.size() + 2];
    if (message.payload.empty())
        return;   // a retained state cleared
    ++stats_.received;
    std::string error;
    Item item;
    if (last == "event") {
        Parsed<EventMessage> event = ParseEvent(message.payload);
        if (!event)
            error = event.error;
        else if (event.message->site != site || event.message->device != middle)
            error = "its site and device are not those of its topic";
        else
            item.event = std::move(event.message);
    } else if (last == "state") {
        Parsed<StateMessage> state = ParseState(message.payload);
        if (!state)
            error = state.error;
        else if (state.message->site != site || state.message->device != middle)
            error = "its site and device are not those of its topic";
        else
            item.state = std::move(state.message);
    } else if (middle == "response" && last == "replay") {
        handleResponse(site, message.payload);
        return;
    } else {
        return;
    }
    if (!error.empty()) {
        ++stats_.refused;
        say("refused a message on " + message.topic + ": " + error);
        return;
    }
    hand(std::move(item));
}

void CollectorSession::handleResponse(const std::string& site, const std::string& payload)
{
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string why;
    ReplayAnswer answer;
    answer.site = site;
    if (payload.size() > kMaxPayload || !reader->parse(payload.data(), payload.data() + payload.size(), &root, &why) ||
        !root.isObject() || !root["transaction"].isString() || !root["device"].isString() ||
        !ParseReplayTransaction(root["transaction"].asString(), answer.from, answer.to)) {
        return;   // not an answer to a collector (another client's replay)
    }
    answer.device = root["device"].asString();
    if (root["status"].asString() != "ok") {
        say("replay of " + site + "/" + answer.device + " " + std::to_string(answer.from) + ".." +
            std::to_string(answer.to) + " not carried out: " + root["status"].asString() + " " +
            root["error"].asString());
        return;
    }
    const std::optional<int64_t> count = OptionalInteger(root, "count");
    if (!count)
        return;
    answer.count = *count;
    answer.first = OptionalInteger(root, "first");
    answer.last = OptionalInteger(root, "last");
    ++stats_.replaysAnswered;
    say("replay answered by " + site + "/" + answer.device + ": " + std::to_string(answer.count) + " of " +
        std::to_string(answer.from) + ".." + std::to_string(answer.to));
    Item item;
    item.answer = answer;
    hand(std::move(item));
}

void CollectorSession::publishReplays()
{
    std::vector<ReplayRequest> replays;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        replays.swap(replays_);
    }
    // Without a broker they are dropped: asked again after the retry wait.
    if (!session_ || !subscribed_)
        return;
    for (const ReplayRequest& request : replays) {
        Json::Value body(Json::objectValue);
        body["transaction"] = ReplayTransaction(request.from, request.to, tag_ + "." + std::to_string(nextTransaction_++));
        body["device"] = request.device;
        body["from"] = Json::Int64(request.from);
        body["to"] = Json::Int64(request.to);
        body["sent"] = UtcNow();
        if (session_->publish(settings_.topicPrefix + "/" + request.site + "/request/replay", Compact(body), false))
            ++stats_.replaysPublished;
    }
}

bool CollectorSession::readAvailable(int fd)
{
    // libmosquitto reads about one packet a call when it has nothing of its
    // own to send; in a burst, reading on while the socket holds more saves
    // a poll() and a turn of the loop per message.
    for (int i = 0; i < kReadsPerTurn; ++i) {
        if (!session_->read())
            return false;
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0 || !canRead())
            return true;
    }
    return true;
}

bool CollectorSession::canRead() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return backlog_ + parsed_.size() + kReadMargin < maxPending_;
}

void CollectorSession::run(const std::function<bool()>& stop)
{
    using std::chrono::milliseconds;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    std::thread writer([this] { writerLoop(); });
    Clock::time_point nextMisc = Clock::now();
    while (!stop()) {
        if (!session_ && Clock::now() >= reconnectAt_)
            tryConnect();
        publishReplays();

        Clock::time_point wake = Clock::now() + milliseconds(100);
        if (!session_)
            wake = std::min(wake, reconnectAt_);
        const bool readable = canRead();
        int timeout = static_cast<int>(
            std::max<int64_t>(0, std::chrono::duration_cast<milliseconds>(wake - Clock::now()).count()));
        if (!readable)
            timeout = std::min(timeout, 5);
        pollfd descriptors[2] = {{wakePipe_[0], POLLIN, 0}, {-1, 0, 0}};
        if (session_) {
            descriptors[1].fd = session_->socket();
            descriptors[1].events =
                static_cast<short>((readable ? POLLIN : 0) | (session_->wantWrite() ? POLLOUT : 0));
            if (descriptors[1].fd < 0) {
                lose("no socket");
                continue;
            }
        }
        const int ready = ::poll(descriptors, session_ ? 2 : 1, timeout);
        if (ready > 0 && (descriptors[0].revents & POLLIN)) {
            char drain[64];
            while (::read(wakePipe_[0], drain, sizeof(drain)) > 0) {
            }
        }
        if (!session_)
            continue;
        bool alive = true;
        if (ready > 0 && (descriptors[1].revents & (POLLIN | POLLHUP | POLLERR)))
            alive = readAvailable(descriptors[1].fd);
        handOver();
        if (alive && session_->wantWrite())
            alive = session_->write();
        if (alive && Clock::now() >= nextMisc) {
            alive = session_->misc();
            nextMisc = Clock::now() + milliseconds(1000);
        }
        if (!alive)
            lose(session_->error());
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer.join();
    if (session_) {
        session_->disconnect();
        session_->write();
    }
    const CollectorStats totals = collectorStats();
    say("stopped: " + std::to_string(totals.inserted) + " events stored, " + std::to_string(totals.duplicates) +
        " duplicates, " + std::to_string(totals.replaysAsked) + " replays asked");
}

}  // namespace velta36col
