// The PostgreSQL side of `velta36 events`: the listing across sites.
#ifndef VELTA36_CLI_CENTRAL_EVENTS_LISTING_H
#define VELTA36_CLI_CENTRAL_EVENTS_LISTING_H

#include "commands.h"
#include "event_database.h"

namespace velta36cli {

// The filter's options were checked already; --site and --device here.
int CentralEventsListing(const EventsOptions& options, const velta36site::EventFilter& filter, Console& console);

}  // namespace velta36cli

#endif
