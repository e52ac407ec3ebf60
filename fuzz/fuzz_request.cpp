// The upstream's request parser with any payload: a request comes from the
// network, so nothing it holds may crash, throw or slip an out-of-range
// value through. The first byte picks the topic's kind; the rest is the
// payload. A request the parser accepts must hold only what the checks
// allow, and the response built from any outcome must be JSON that reads
// back with the same transaction. The same bytes as a stored column must
// come out of the event message as valid JSON too.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>

#include <json/json.h>

#include "messages.h"
#include "names.h"
#include "request.h"

namespace {

const char* const kKinds[] = {"open-door", "configure", "add-card", "delete-card", "replay", "explode"};

[[noreturn]] void Finding(const char* what)
{
    std::fprintf(stderr, "fuzz_request: %s\n", what);
    std::abort();
}

Json::Value ReadBack(const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        Finding("a message the site wrote is not JSON");
    return value;
}

void CheckAccepted(const velta36up::Request& r)
{
    using velta36up::CommandKind;
    if (r.transaction.empty() || r.transaction.size() > 64 || !velta36up::IsTopicSafe(r.device))
        Finding("accepted a bad transaction or device");
    for (char c : r.transaction) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == ':' || c == '-'))
            Finding("accepted a transaction with a character outside the set");
    }
    if (r.kind == velta36up::kKindReplay) {
        if (r.command || r.from < 1 || r.to < r.from || r.to - r.from >= velta36up::kMaxReplaySpan)
            Finding("accepted a bad replay range");
        return;
    }
    if (!r.command)
        Finding("accepted a command kind without a command");
    const velta36up::Command& c = *r.command;
    if (c.kind == CommandKind::OpenDoor && c.door != 1 && c.door != 2)
        Finding("accepted a door other than 1 or 2");
    if ((c.kind == CommandKind::AddCard || c.kind == CommandKind::DeleteCard) &&
        (c.slot < 0 || c.slot > 9999 || c.cardDoor < 0 || c.cardDoor > 2))
        Finding("accepted a card slot or door out of range");
    if (c.kind == CommandKind::AddCard) {
        if (c.code.size() != 8 || c.endDate.size() != 10)
            Finding("accepted a bad card code or end date");
        for (char ch : c.code) {
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                Finding("accepted a card code that could end a frame");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string kind = kKinds[data[0] % (sizeof(kKinds) / sizeof(kKinds[0]))];
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    const velta36up::ParsedRequest parsed = velta36up::ParseRequest(kind, payload);
    if (parsed.ok == !parsed.error.empty())
        Finding("ok and an error, or neither");
    if (parsed.ok)
        CheckAccepted(parsed.request);

    velta36up::Response response;
    response.kind = kind;
    response.status = parsed.ok ? "ok" : "invalid";
    if (!parsed.request.transaction.empty())
        response.transaction = parsed.request.transaction;
    if (!parsed.request.device.empty())
        response.device = parsed.request.device;
    if (!parsed.error.empty())
        response.error = parsed.error;
    const Json::Value back = ReadBack(velta36up::ResponsePayload(response));
    if (back["transaction"].isString() != response.transaction.has_value() ||
        (response.transaction && back["transaction"].asString() != *response.transaction))
        Finding("the response does not carry the transaction read");

    velta36up::SourceRow row;
    row.card = payload;
    row.reason = payload;
    const Json::Value event = ReadBack(velta36up::EventPayload(velta36up::EventIdentity{"s", "d", 1, "0"}, row));
    if (event["card"].asString().empty() != payload.empty())
        Finding("a stored column vanished from its event");
    return 0;
}
