// Reading the central table back: the events of every site, newest first,
// with the filters of `velta36 events` plus the site and the device.
#ifndef VELTA36_COLLECTOR_CENTRAL_EVENTS_H
#define VELTA36_COLLECTOR_CENTRAL_EVENTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pg_connection.h"

namespace velta36col {

struct CentralEvent {
    std::string site;
    std::string device;
    std::string identity;
    int64_t dataId = 0;
    int64_t seq = 0;
    std::string epoch;
    int64_t row = 0;
    std::optional<std::string> time;
    int32_t channel = 0;
    int32_t type = 0;
    std::string typeName;
    std::string card;
    std::string reason;
    std::string receivedAt;   // UTC, "YYYY-MM-DD hh:mm:ss.ffffff+00"
};

struct CentralFilter {
    int32_t limit = 20;                  // negative: no limit
    std::optional<std::string> since;    // "YYYY-MM-DD hh:mm:ss", inclusive
    std::optional<std::string> until;    // likewise
    std::optional<std::string> card;
    std::vector<int64_t> channels;       // any of them; empty: all
    std::vector<int64_t> types;          // likewise
    std::vector<std::string> sites;      // likewise
    std::vector<std::string> devices;    // likewise (a device id is per site: give the site too)
};

class CentralEventReader {
public:
    explicit CentralEventReader(const ConnectionSettings& settings);
    // Newest first by event time (events without a time last), then by seq.
    std::vector<CentralEvent> newest(const CentralFilter& filter);
    int64_t count();
    // The statement newest() runs for the filter and its parameters; for
    // EXPLAIN in the benchmark.
    static std::string Statement(const CentralFilter& filter, std::vector<Param>& params);

private:
    PgConnection connection_;
};

}  // namespace velta36col

#endif
