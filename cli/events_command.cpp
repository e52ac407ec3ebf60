// velta36 events: the stored events, newest first, straight from SQLite.
#include "commands.h"
#include "event_database.h"
#include "output_format.h"

namespace velta36cli {

int EventsCommand(const EventsOptions& options, Console& console)
{
    EventFilter filter;
    if (options.limit <= 0)
        throw InputError("--limit must be a positive number");
    filter.limit = options.limit;
    if (options.since) {
        filter.since = NormaliseTime(*options.since);
        if (!filter.since)
            throw InputError("--since \"" + *options.since + "\" is not a time YYYY-MM-DD[ hh:mm[:ss]]");
    }
    filter.cardNo = options.card;
    EventReader reader(options.dir + "/" + kDatabaseFile);
    const std::vector<StoredEvent> rows = reader.newest(filter);
    for (const StoredEvent& row : rows)
        console.line(EventLine(row));
    if (rows.empty())
        console.line("no events");
    return kExitOk;
}

}  // namespace velta36cli
