// velta36 events --db: the central table's events of every site, newest
// first, with the filters of the local listing (checked by the caller)
// plus --site and --device, in the same three formats with the site, the
// device, the seq and the identity in front.
#include <json/json.h>

#include "central_events.h"
#include "central_events_listing.h"
#include "messages.h"
#include "output_format.h"

namespace velta36cli {

namespace {

velta36site::StoredEvent AsStored(const velta36col::CentralEvent& event)
{
    velta36site::StoredEvent stored;
    stored.id = event.row;
    stored.dataId = event.dataId;
    stored.eventTime = event.time;
    stored.readerChannel = event.channel;
    stored.eventType = event.type;
    stored.cardNo = event.card;
    stored.reason = event.reason;
    return stored;
}

std::string JsonLine(const velta36col::CentralEvent& event)
{
    Json::Value row(Json::objectValue);
    row["site"] = event.site;
    row["device"] = event.device;
    row["seq"] = static_cast<Json::Int64>(event.seq);
    row["identity"] = event.identity;
    row["id"] = static_cast<Json::Int64>(event.row);
    row["data_id"] = static_cast<Json::Int64>(event.dataId);
    row["EventTime"] = event.time ? Json::Value(*event.time) : Json::Value();
    row["ReaderChannel"] = event.channel;
    row["EventType"] = event.type;
    row["CardNo"] = event.card;
    row["Reason"] = event.reason;
    row["received_at"] = event.receivedAt;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = false;
    return Json::writeString(writer, row);
}

}  // namespace

int CentralEventsListing(const EventsOptions& options, const velta36site::EventFilter& local, Console& console)
{
    velta36col::CentralFilter filter;
    filter.limit = local.limit;
    filter.since = local.since;
    filter.until = local.until;
    filter.card = local.cardNo;
    filter.channels = local.channels;
    filter.types = local.types;
    for (const std::string& site : options.sites) {
        if (!velta36col::IsTopicId(site))
            throw InputError("--site \"" + site + "\" is not a site id (1 to 64 of A-Z a-z 0-9 _ -)");
        filter.sites.push_back(site);
    }
    for (const std::string& device : options.devices) {
        if (!velta36col::IsTopicId(device))
            throw InputError("--device \"" + device + "\" is not a device id (1 to 64 of A-Z a-z 0-9 _ -)");
        filter.devices.push_back(device);
    }
    std::vector<velta36col::CentralEvent> rows;
    try {
        velta36col::CentralEventReader reader(velta36col::ConnectionSettings{*options.db, options.dbPasswordFile});
        rows = reader.newest(filter);
    } catch (const velta36col::SettingsError& error) {
        throw InputError(error.what());
    }
    if (options.format == "csv") {
        console.line("site,device,seq,identity," + EventCsvHeader());
        // Site and device ids and identities hold no comma or quote.
        for (const velta36col::CentralEvent& row : rows)
            console.line(row.site + "," + row.device + "," + std::to_string(row.seq) + "," + row.identity + "," +
                         EventCsvLine(AsStored(row)));
    } else if (options.format == "json") {
        for (const velta36col::CentralEvent& row : rows)
            console.line(JsonLine(row));
    } else {
        for (const velta36col::CentralEvent& row : rows)
            console.line(row.site + "/" + row.device + "  " + EventLine(AsStored(row)));
        if (rows.empty())
            console.line("no events");
    }
    return kExitOk;
}

}  // namespace velta36cli
