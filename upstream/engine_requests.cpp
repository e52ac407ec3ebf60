// Requests from the network and Home Assistant's button presses: every
// check before anything reaches the site, a durable record of each
// transaction carried out, and one response per request.
#include <cinttypes>
#include <cstdio>

#include "engine.h"

namespace velta36up {

namespace {

const char* const kRetainedError = "a retained request is never carried out";
// Responses kept while the broker is away; the oldest go first.
const std::size_t kMaxQueuedResponses = 1000;

std::string WholeSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f", seconds);
    return text;
}

}  // namespace

void Upstream::Impl::received(const IncomingMessage& message)
{
    // Handled after the session's call returns, outside libmosquitto.
    incoming_.push_back(message);
}

void Upstream::Impl::handleIncoming()
{
    std::vector<IncomingMessage> messages;
    messages.swap(incoming_);
    const std::string requestPrefix = topics_.requestPrefix();
    const std::string base = topics_.base() + "/";
    for (const IncomingMessage& message : messages) {
        if (message.topic == options_.settings.discoveryPrefix + "/status") {
            // Home Assistant (re)started: send discovery again, after a
            // random delay so that a fleet does not answer at once.
            if (message.payload == "online" && options_.settings.discovery && !message.retained) {
                std::uniform_int_distribution<int64_t> delay(0, options_.discoveryDelayMax.count());
                discoveryDue_ = true;
                discoveryAt_ = Clock::now() + std::chrono::milliseconds(delay(random_));
            }
        } else if (message.topic.compare(0, requestPrefix.size(), requestPrefix) == 0) {
            handleRequest(message.topic.substr(requestPrefix.size()), message);
        } else if (message.topic.compare(0, base.size(), base) == 0) {
            // <device>/open-door/<door>
            const std::string rest = message.topic.substr(base.size());
            const std::size_t first = rest.find('/');
            const std::size_t second = first == std::string::npos ? first : rest.find('/', first + 1);
            if (second != std::string::npos && rest.compare(first, second - first, "/open-door") == 0)
                handlePress(rest.substr(0, first), rest.substr(second + 1), message);
        }
    }
}

std::optional<std::string> Upstream::Impl::ageRefusal(const Request& request, const IncomingMessage& message) const
{
    // With an expiry the broker counts it down and drops the request once
    // it runs out: what arrives is within it.
    if (message.expirySeconds || !request.sent)
        return std::nullopt;
    const double age = std::chrono::duration<double>(WallClock::now() - *request.sent).count();
    const double limit = options_.settings.maxRequestAgeSeconds;
    if (age > limit)
        return "expired: sent " + WholeSeconds(age) + " s ago, the limit is " + WholeSeconds(limit) + " s";
    if (-age > limit)
        return "\"sent\" is " + WholeSeconds(-age) + " s ahead of the site's clock";
    return std::nullopt;
}

void Upstream::Impl::handleRequest(const std::string& kind, const IncomingMessage& message)
{
    const ParsedRequest parsed = ParseRequest(kind, message.payload);
    Response response;
    response.kind = kind.empty() || kind.find('/') != std::string::npos ? "unknown" : kind;
    if (!parsed.request.transaction.empty())
        response.transaction = parsed.request.transaction;
    if (!parsed.request.device.empty())
        response.device = parsed.request.device;
    const Request& request = parsed.request;
    if (message.retained)
        return respond(response, "refused", kRetainedError);
    if (!parsed.ok)
        return respond(response, "invalid", parsed.error);
    if (options_.settings.allowed.count(kind) == 0)
        return respond(response, "refused", kind + " is not allowed at this site");
    auto device = devices_.find(request.device);
    if (device == devices_.end())
        return respond(response, "invalid", "no device " + request.device + " at this site");
    if (request.command && request.command->kind == CommandKind::OpenDoor &&
        request.command->door > device->second.info.doors)
        return respond(response, "invalid", "device " + request.device + " has no door " +
                                                std::to_string(request.command->door));
    if (const std::optional<std::string> refusal = ageRefusal(request, message))
        return respond(response, "refused", *refusal);
    carryOut(request, response);
}

void Upstream::Impl::handlePress(const std::string& device, const std::string& door, const IncomingMessage& message)
{
    // A button press carries no transaction id: it gets one here, and the
    // response tells which.
    char transaction[32];
    std::snprintf(transaction, sizeof(transaction), "ha-%016" PRIx64, static_cast<uint64_t>(random_()));
    Response response;
    response.kind = kKindOpenDoor;
    response.transaction = std::string(transaction);
    response.device = device;
    if (message.retained)
        return respond(response, "refused", kRetainedError);
    if (message.payload != "PRESS")
        return respond(response, "invalid", "a button press must carry PRESS");
    if (options_.settings.allowed.count(kKindOpenDoor) == 0)
        return respond(response, "refused", std::string(kKindOpenDoor) + " is not allowed at this site");
    auto it = devices_.find(device);
    if (it == devices_.end())
        return respond(response, "invalid", "no device " + device + " at this site");
    if (door != "1" && !(door == "2" && it->second.info.doors == 2))
        return respond(response, "invalid", "device " + device + " has no door " + door.substr(0, 8));
    Request request;
    request.kind = kKindOpenDoor;
    request.transaction = transaction;
    request.device = device;
    Command command;
    command.kind = CommandKind::OpenDoor;
    command.door = door == "2" ? 2 : 1;
    request.command = command;
    carryOut(request, response);
}

void Upstream::Impl::carryOut(const Request& request, Response response)
{
    // Recorded before it is carried out: after a crash in between, the
    // same transaction is refused rather than done twice.
    try {
        if (!outbox_->recordTransaction(request.transaction, request.kind, IsoUtc(WallClock::now())))
            return respond(response, "refused", "transaction " + request.transaction + " was received before");
    } catch (const std::exception& e) {
        return respond(response, "failed", std::string("cannot record the transaction: ") + e.what());
    }
    ++carriedOut_;
    if (!request.command) {
        ReplayJob job;
        response.count = 0;
        job.response = response;
        job.device = request.device;
        job.next = request.from;
        job.to = request.to;
        replays_.push_back(job);
        return;
    }
    log("upstream: " + request.kind + " on " + request.device + " (transaction " + request.transaction + ")");
    if (!options_.execute)
        return respond(response, "failed", "this site carries out no commands");
    try {
        PendingCommand pending;
        pending.outcome = options_.execute(request.device, *request.command);
        pending.response = response;
        pending.deadline = Clock::now() + options_.commandTimeout;
        commands_.push_back(std::move(pending));
    } catch (const std::exception& e) {
        respond(response, "failed", e.what());
    }
}

void Upstream::Impl::checkCommands(Clock::time_point now)
{
    for (auto it = commands_.begin(); it != commands_.end();) {
        if (it->outcome.valid() && it->outcome.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            if (now < it->deadline) {
                ++it;
                continue;
            }
            respond(it->response, "failed",
                    "no outcome from the site within " +
                        WholeSeconds(std::chrono::duration<double>(options_.commandTimeout).count()) + " s");
            abandoned_.push_back(std::move(it->outcome));
            it = commands_.erase(it);
            continue;
        }
        Response response = it->response;
        try {
            if (!it->outcome.valid())
                throw std::runtime_error("the site gave no outcome");
            const CommandOutcome outcome = it->outcome.get();
            response.controlResult = outcome.controlResult;
            respond(response, outcome.ok ? "ok" : "failed", outcome.ok ? std::string() : outcome.error);
        } catch (const std::exception& e) {
            respond(response, "failed", e.what());
        }
        it = commands_.erase(it);
    }
}

void Upstream::Impl::respond(Response response, const std::string& status, const std::string& error)
{
    response.status = status;
    if (!error.empty())
        response.error = error;
    if (status == "refused" || status == "invalid") {
        ++refused_;
        log("upstream: " + status + " " + response.kind + " request" +
            (response.transaction ? " " + *response.transaction : std::string()) + ": " + error);
    }
    if (responses_.size() >= kMaxQueuedResponses)
        responses_.pop_front();   // the oldest waited longest for a broker
    responses_.emplace_back(topics_.response(response.kind), ResponsePayload(response));
}

}  // namespace velta36up
