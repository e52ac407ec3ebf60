// The central collector's store, measured against a PostgreSQL 15 server
// the program starts itself (data under $TMPDIR, fsync on):
//   velta36-bench-collector [--events 100000] [--rows 3000000] [--runs 3]
//                           [--pg-setting name=value]...   (more server settings)
// 1. Insert rate on a burst of --events events from 100 devices: the
//    collector (accept, poll after each message, flush at the end) against
//    a plain libpq COPY of the same rows into the same table in one
//    transaction, alternating, each run in a fresh database; medians. The
//    collector runs with its default batch and with --large-batch rows.
// 2. Time to close a gap of 1,000 events once the replayed events arrive.
// 3. The reader's filters on a table of --rows rows, without and with the
//    collector's indexes: median time and the plan's scans (EXPLAIN).
// Prints RESULT lines.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "central_events.h"
#include "collector.h"
#include "collector_burst.h"
#include "postgres_server.h"
#include "schema.h"

namespace {

using namespace velta36col;
using velta36bench::Burst;
using velta36bench::CopyBaseline;
using SteadyClock = std::chrono::steady_clock;

double Seconds(SteadyClock::time_point from)
{
    return std::chrono::duration<double>(SteadyClock::now() - from).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double CollectorRun(const std::string& conninfo, const std::vector<EventMessage>& events, std::size_t batchRows,
                    int64_t& batches)
{
    CollectorOptions options;
    options.batchRows = batchRows;
    options.maxPending = events.size();
    Collector collector(ConnectionSettings{conninfo, std::nullopt}, options);
    if (!collector.connected())
        throw std::runtime_error("the collector did not connect");
    std::size_t committed = 0;
    const auto start = SteadyClock::now();
    for (const EventMessage& e : events) {
        collector.accept(e);
        committed += collector.poll().tickets.size();
    }
    committed += collector.flush().tickets.size();
    const double took = Seconds(start);
    if (committed != events.size() || collector.stats().inserted != static_cast<int64_t>(events.size()))
        throw std::runtime_error("the collector committed " + std::to_string(committed) + " of " +
                                 std::to_string(events.size()));
    batches = collector.stats().batches;
    return took;
}

void InsertRate(velta36test::PostgresServer& server, int count, int runs, std::size_t largeRows)
{
    const std::vector<EventMessage> events = Burst(count);
    std::vector<double> copy, collector, large;
    int64_t batches = 0, largeBatches = 0;
    for (int run = 0; run < runs; ++run) {
        // Each in a fresh database with the collector's tables, in turns.
        auto fresh = [&server] {
            const std::string conninfo = server.conninfo(server.createDatabase());
            PgConnection connection(ConnectionSettings{conninfo, std::nullopt});
            EnsureSchema(connection);
            return conninfo;
        };
        copy.push_back(CopyBaseline(fresh(), events));
        collector.push_back(CollectorRun(fresh(), events, CollectorOptions{}.batchRows, batches));
        large.push_back(CollectorRun(fresh(), events, largeRows, largeBatches));
    }
    const double copyRate = count / Median(copy), collectorRate = count / Median(collector),
                 largeRate = count / Median(large);
    std::printf("RESULT insert events=%d runs=%d copy_s=%.3f copy_rate=%.0f collector_s=%.3f collector_rate=%.0f "
                "batches=%lld ratio=%.3f large_rows=%zu large_s=%.3f large_rate=%.0f large_batches=%lld "
                "large_ratio=%.3f\n",
                count, runs, Median(copy), copyRate, Median(collector), collectorRate,
                static_cast<long long>(batches), collectorRate / copyRate, largeRows, Median(large), largeRate,
                static_cast<long long>(largeBatches), largeRate / copyRate);
    std::fflush(stdout);
}

void GapClose(velta36test::PostgresServer& server, int runs)
{
    const std::string conninfo = server.conninfo(server.createDatabase());
    std::vector<double> times;
    std::vector<std::string> replays;
    for (int run = 0; run < runs; ++run) {
        CollectorOptions options;
        options.requestReplay = [&replays](const ReplayRequest& r) {
            replays.push_back(std::to_string(r.from) + ".." + std::to_string(r.to));
        };
        options.gaps.grace = std::chrono::milliseconds(0);
        Collector collector(ConnectionSettings{conninfo, std::nullopt}, options);
        const std::string device = "door" + std::to_string(run);
        auto event = [&device](int64_t seq) {
            EventMessage e = Burst(1).front();
            e.device = device;
            e.seq = seq;
            e.row = seq;
            e.identity = e.epoch + ":" + std::to_string(seq);
            return e;
        };
        collector.accept(event(1));
        collector.accept(event(1002));
        collector.flush();
        collector.poll();   // asks for 2..1001 at once (no grace here)
        std::vector<EventMessage> replayed;
        for (int64_t seq = 2; seq <= 1001; ++seq) {
            replayed.push_back(event(seq));
            replayed.back().replayed = true;
        }
        const auto start = SteadyClock::now();
        for (const EventMessage& e : replayed) {
            collector.accept(e);
            collector.poll();
        }
        while (collector.pending() > 0)
            collector.poll();
        times.push_back(Seconds(start));
        PgConnection check(ConnectionSettings{conninfo, std::nullopt});
        const std::string closed =
            check.exec("SELECT count(*) = 0 FROM velta36_gaps WHERE device = $1", {device}).text(0, 0);
        if (closed != "t")
            throw std::runtime_error("the gap is still open");
    }
    std::printf("RESULT gap events=1000 runs=%d close_ms=%.1f requests=%zu first_request=%s\n", runs,
                Median(times) * 1000, replays.size(), replays.empty() ? "none" : replays.front().c_str());
    std::fflush(stdout);
}

struct NamedFilter {
    const char* name;
    CentralFilter filter;
};

std::vector<NamedFilter> Filters()
{
    auto make = [](std::function<void(CentralFilter&)> change) {
        CentralFilter f;
        change(f);
        return f;
    };
    return {
        {"newest", make([](CentralFilter&) {})},
        {"day", make([](CentralFilter& f) {
             f.since = "2024-06-01 00:00:00";
             f.until = "2024-06-01 23:59:59";
         })},
        {"day_all", make([](CentralFilter& f) {
             f.since = "2024-06-01 00:00:00";
             f.until = "2024-06-01 23:59:59";
             f.limit = -1;
         })},
        {"card", make([](CentralFilter& f) { f.card = "00012345"; })},
        {"card_all", make([](CentralFilter& f) {
             f.card = "00012345";
             f.limit = -1;
         })},
        {"site", make([](CentralFilter& f) { f.sites = {"site07"}; })},
        {"site_device", make([](CentralFilter& f) {
             f.sites = {"site07"};
             f.devices = {"dev3"};
         })},
        {"site_month", make([](CentralFilter& f) {
             f.sites = {"site07"};
             f.since = "2024-02-01 00:00:00";
             f.until = "2024-02-29 23:59:59";
         })},
        {"channel_type", make([](CentralFilter& f) {
             f.channels = {3};
             f.types = {5};
         })},
    };
}

// The scan nodes of the plan, joined: "Index Scan using velta36_events_card".
std::string Scans(PgConnection& connection, const CentralFilter& filter)
{
    std::vector<Param> params;
    const std::string sql = CentralEventReader::Statement(filter, params);
    PgResult plan = connection.exec("EXPLAIN " + sql, params);
    std::string scans;
    for (int r = 0; r < plan.rows(); ++r) {
        std::string line = plan.text(r, 0);
        const std::size_t at = line.find("Scan");
        if (at == std::string::npos)
            continue;
        line = line.substr(line.find_first_not_of(" ->"));
        line = line.substr(0, line.find("  ("));
        // The table's name says nothing; an index's does.
        const std::size_t table = line.find(" on velta36_events");
        if (table != std::string::npos && table + 18 == line.size())
            line = line.substr(0, table);
        scans += (scans.empty() ? "" : "+") + line;
    }
    for (char& c : scans)
        if (c == ' ')
            c = '_';
    return scans;
}

void Queries(velta36test::PostgresServer& server, long rows, int runs)
{
    const std::string conninfo = server.conninfo(server.createDatabase());
    PgConnection connection(ConnectionSettings{conninfo, std::nullopt});
    EnsureSchema(connection);
    const char* indexes[] = {"velta36_events_time", "velta36_events_card", "velta36_events_site",
                             "velta36_events_seq"};
    for (const char* index : indexes)
        connection.script(std::string("DROP INDEX ") + index);
    // 30 sites of 10 devices, an event every 20 s over about two years,
    // 50,000 cards.
    auto start = SteadyClock::now();
    connection.exec(R"SQL(
INSERT INTO velta36_events (site, device, identity, data_id, seq, epoch, site_row, event_time, channel,
                            event_type, type_name, card, reason)
SELECT 'site' || lpad((g % 30)::text, 2, '0'), 'dev' || ((g / 30) % 10), '0123456789abcdef:' || g, 1,
       g / 300 + 1, '0123456789abcdef', g,
       to_char(timestamp '2023-01-01' + g * interval '20 seconds', 'YYYY-MM-DD HH24:MI:SS'),
       g % 5, (g / 7) % 7, 'granted_entry', lpad(((g * 7919) % 50000)::text, 8, '0'), '刷卡进门成功'
FROM generate_series(1, $1::bigint) AS g)SQL",
                    {std::to_string(rows)});
    connection.script("ANALYZE velta36_events");
    const double fill = Seconds(start);

    CentralEventReader reader(ConnectionSettings{conninfo, std::nullopt});
    auto measure = [&](const char* phase, int repeat) {
        for (const NamedFilter& f : Filters()) {
            std::vector<double> times;
            std::size_t found = 0;
            for (int i = 0; i < repeat; ++i) {
                const auto t = SteadyClock::now();
                found = reader.newest(f.filter).size();
                times.push_back(Seconds(t));
            }
            std::printf("RESULT query phase=%s filter=%s rows=%ld found=%zu ms=%.2f plan=%s\n", phase, f.name, rows,
                        found, Median(times) * 1000, Scans(connection, f.filter).c_str());
            std::fflush(stdout);
        }
    };
    measure("no_indexes", std::max(1, runs));
    start = SteadyClock::now();
    connection.script("CREATE INDEX velta36_events_time ON velta36_events (event_time DESC NULLS LAST, seq DESC)");
    connection.script("CREATE INDEX velta36_events_card ON velta36_events (card, event_time DESC NULLS LAST)");
    connection.script("CREATE INDEX velta36_events_site ON velta36_events (site, event_time DESC NULLS LAST)");
    connection.script("CREATE INDEX velta36_events_seq ON velta36_events (site, device, seq)");
    connection.script("ANALYZE velta36_events");
    const double indexing = Seconds(start);
    std::printf("RESULT table rows=%ld fill_s=%.1f index_s=%.1f size_mb=%s\n", rows, fill, indexing,
                connection.exec("SELECT pg_total_relation_size('velta36_events') / 1048576").text(0, 0).c_str());
    measure("indexes", std::max(5, runs));
}

}  // namespace

int main(int argc, char** argv)
{
    int events = 100000, runs = 3;
    long rows = 3000000;
    std::size_t largeRows = 5000;
    velta36test::PostgresOptions options;
    options.fsync = true;
    options.settings = {"shared_buffers=256MB", "max_wal_size=4GB", "work_mem=16MB"};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--pg-setting")
            options.settings.push_back(argv[i + 1]);
        else if (flag == "--events")
            events = std::atoi(argv[i + 1]);
        else if (flag == "--rows")
            rows = std::atol(argv[i + 1]);
        else if (flag == "--large-batch")
            largeRows = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (flag == "--runs")
            runs = std::atoi(argv[i + 1]);
        else {
            std::cerr << "usage: velta36-bench-collector [--events N] [--rows N] [--runs N] [--large-batch N] "
                         "[--pg-setting name=value]...\n";
            return 2;
        }
    }
    try {
        velta36test::PostgresServer server(options);
        InsertRate(server, events, runs, largeRows);
        GapClose(server, 5);
        if (rows > 0)
            Queries(server, rows, runs);
    } catch (const std::exception& error) {
        std::cerr << "velta36-bench-collector: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
