#include "central_events.h"

namespace velta36col {

namespace {

const char* const kColumns =
    "site, device, identity, data_id, seq, epoch, site_row, event_time, channel, event_type, type_name, card, "
    "reason, to_char(received_at AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.US') || '+00'";

}  // namespace

CentralEventReader::CentralEventReader(const ConnectionSettings& settings)
    : connection_(settings, "velta36-events")
{
    // Only reading: a mistaken statement cannot change the table.
    connection_.script("SET default_transaction_read_only = on");
}

std::string CentralEventReader::Statement(const CentralFilter& filter, std::vector<Param>& params)
{
    std::string sql = std::string("SELECT ") + kColumns + " FROM velta36_events WHERE true";
    auto next = [&params](Param value) {
        params.push_back(std::move(value));
        return "$" + std::to_string(params.size());
    };
    if (filter.since)
        sql += " AND event_time >= " + next(*filter.since);
    if (filter.until)
        sql += " AND event_time <= " + next(*filter.until);
    if (filter.card)
        sql += " AND card = " + next(*filter.card);
    if (!filter.channels.empty())
        sql += " AND channel = ANY (" + next(IntegerArray(filter.channels)) + "::integer[])";
    if (!filter.types.empty())
        sql += " AND event_type = ANY (" + next(IntegerArray(filter.types)) + "::integer[])";
    // One site is a plain equality, which the planner matches to the index
    // on (site, event_time) more readily than an array.
    if (filter.sites.size() == 1)
        sql += " AND site = " + next(filter.sites.front());
    else if (!filter.sites.empty())
        sql += " AND site = ANY (" + next(TextArray(filter.sites)) + "::text[])";
    if (filter.devices.size() == 1)
        sql += " AND device = " + next(filter.devices.front());
    else if (!filter.devices.empty())
        sql += " AND device = ANY (" + next(TextArray(filter.devices)) + "::text[])";
    sql += " ORDER BY event_time DESC NULLS LAST, seq DESC, site, device";
    if (filter.limit >= 0)
        sql += " LIMIT " + next(std::to_string(filter.limit));
    return sql;
}

std::vector<CentralEvent> CentralEventReader::newest(const CentralFilter& filter)
{
    std::vector<Param> params;
    const std::string sql = Statement(filter, params);
    PgResult result = connection_.exec(sql, params);
    std::vector<CentralEvent> events;
    events.reserve(static_cast<std::size_t>(result.rows()));
    for (int r = 0; r < result.rows(); ++r) {
        CentralEvent event;
        event.site = result.text(r, 0);
        event.device = result.text(r, 1);
        event.identity = result.text(r, 2);
        event.dataId = result.integer(r, 3);
        event.seq = result.integer(r, 4);
        event.epoch = result.text(r, 5);
        event.row = result.integer(r, 6);
        event.time = result.optionalText(r, 7);
        event.channel = static_cast<int32_t>(result.integer(r, 8));
        event.type = static_cast<int32_t>(result.integer(r, 9));
        event.typeName = result.text(r, 10);
        event.card = result.text(r, 11);
        event.reason = result.text(r, 12);
        event.receivedAt = result.text(r, 13);
        events.push_back(std::move(event));
    }
    return events;
}

int64_t CentralEventReader::count()
{
    return connection_.exec("SELECT count(*) FROM velta36_events").integer(0, 0);
}

}  // namespace velta36col
