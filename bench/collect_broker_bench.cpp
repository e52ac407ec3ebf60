// The collector through a real broker, against a PostgreSQL 15 server and a
// mosquitto the program starts itself (PostgreSQL data under $TMPDIR, fsync
// on, commit timestamps tracked):
//   velta36-bench-collect [--events 100000] [--runs 1] [--seconds 10]
// 1. Insert rate on a burst of --events events from the broker: they wait
//    queued in the collector's kept session (published while it was away),
//    and the collector session drains them into PostgreSQL; against a plain
//    libpq COPY of the same rows in one transaction, each in a fresh
//    database, in turns; medians.
// 2. Time from an event's commit at a site to its commit centrally, p50 and
//    p99: three sites (the upstream engine in child processes over files
//    filled here), each storing one row every 20 ms for --seconds; the
//    central commit time is PostgreSQL's commit timestamp of the row.
// 3. Time to close a gap of 1,000 events by replay through the broker: a
//    site published them before any collector listened; a new collector
//    learns of them from the retained state and asks; from the request to
//    the last of them committed.
// Prints RESULT lines.
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "collector_burst.h"
#include "collector_session.h"
#include "mosquitto_broker.h"
#include "mqtt_test_client.h"
#include "postgres_server.h"
#include "schema.h"
#include "simulated_site.h"
#include "temp_work_dir.h"

namespace {

using namespace velta36col;
using SteadyClock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

std::string Payload(const EventMessage& e)
{
    Json::Value v(Json::objectValue);
    v["site"] = e.site;
    v["device"] = e.device;
    v["data_id"] = Json::Int64(e.dataId);
    v["seq"] = Json::Int64(e.seq);
    v["id"] = e.identity;
    v["epoch"] = e.epoch;
    v["row"] = Json::Int64(e.row);
    v["time"] = e.time ? Json::Value(*e.time) : Json::Value();
    v["channel"] = e.channel;
    v["type"] = e.type;
    v["type_name"] = e.typeName;
    v["card"] = e.card;
    v["reason"] = e.reason;
    v["replayed"] = false;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, v);
}

std::string FreshDatabase(velta36test::PostgresServer& server)
{
    const std::string conninfo = server.conninfo(server.createDatabase());
    PgConnection connection(ConnectionSettings{conninfo, std::nullopt});
    EnsureSchema(connection);
    return conninfo;
}

CollectSettings Broker(const velta36test::MosquittoBroker& broker, const std::string& clientId)
{
    CollectSettings settings;
    settings.session.broker = velta36up::ParseBrokerUrl(broker.url());
    settings.session.clientId = clientId;
    return settings;
}

// Runs a collector session until `done` holds (or `limit` passes); the
// time it ran.
double RunUntil(CollectorSession& session, const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto start = SteadyClock::now();
    session.run([&] { return done() || SteadyClock::now() - start > limit; });
    return velta36bench::SecondsSince(start);
}

void BurstFromBroker(velta36test::PostgresServer& server, int count, int runs)
{
    std::vector<EventMessage> events = velta36bench::Burst(count);
    std::vector<double> copy, collector;
    int64_t batches = 0;
    for (int run = 0; run < runs; ++run) {
        copy.push_back(velta36bench::CopyBaseline(FreshDatabase(server), events));

        velta36test::BrokerOptions brokerOptions;
        brokerOptions.maxQueuedMessages = count + 1000;
        brokerOptions.extra = "max_inflight_messages 1000\n";
        velta36test::MosquittoBroker broker(brokerOptions);
        const std::string conninfo = FreshDatabase(server);
        CollectorOptions options;
        options.backfill = Backfill::FromFirstSeen;   // the burst starts at seq 1 anyway
        {
            // Its session is made, then it goes away.
            CollectorSession first(Broker(broker, "bench-collect"), ConnectionSettings{conninfo, std::nullopt}, options);
            const auto start = SteadyClock::now();
            first.run([&] { return SteadyClock::now() - start > std::chrono::milliseconds(500); });
        }
        {
            velta36test::ClientOptions publisher;
            publisher.port = broker.port();
            publisher.clientId = "bench-sites";
            velta36test::TestMqttClient sites(publisher);
            for (const EventMessage& e : events)
                sites.publish("velta36/" + e.site + "/" + e.device + "/event", Payload(e));
        }
        CollectorSession session(Broker(broker, "bench-collect"), ConnectionSettings{conninfo, std::nullopt}, options);
        const double took = RunUntil(session, [&] { return session.collectorStats().inserted >= count; },
                                     std::chrono::seconds(600));
        if (session.collectorStats().inserted != count)
            throw std::runtime_error("the collector stored " + std::to_string(session.collectorStats().inserted) +
                                     " of " + std::to_string(count));
        collector.push_back(took);
        batches = session.collectorStats().batches;
    }
    const double copyRate = count / Median(copy), rate = count / Median(collector);
    std::printf("RESULT broker_insert events=%d runs=%d copy_s=%.3f copy_rate=%.0f collector_s=%.3f "
                "collector_rate=%.0f batches=%lld ratio=%.3f\n",
                count, runs, Median(copy), copyRate, Median(collector), rate, static_cast<long long>(batches),
                rate / copyRate);
    std::fflush(stdout);
}

void SiteToCentral(velta36test::PostgresServer& server, int seconds)
{
    velta36test::TempWorkDir dir;
    velta36test::MosquittoBroker broker;
    const std::string conninfo = FreshDatabase(server);
    std::vector<std::unique_ptr<velta36test::SimulatedSite>> sites;
    for (const char* name : {"north", "south", "east"}) {
        sites.push_back(std::make_unique<velta36test::SimulatedSite>(name, 3, broker.url(), dir.file(name),
                                                                     VELTA36_UPSTREAM_CHILD));
        sites.back()->start();
    }
    CollectorSession session(Broker(broker, "bench-latency"), ConnectionSettings{conninfo, std::nullopt},
                             CollectorOptions{});
    std::atomic<bool> stop{false};
    std::thread loop([&] { session.run([&] { return stop.load(); }); });
    std::this_thread::sleep_for(std::chrono::seconds(2));   // connected, subscribed

    // site -> commit times of its rows, in order (the cards count from 1).
    std::map<std::string, std::vector<double>> stored;
    const auto end = SteadyClock::now() + std::chrono::seconds(seconds);
    auto nowSeconds = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    while (SteadyClock::now() < end) {
        for (auto& site : sites) {
            site->add(1);
            stored[site->name()].push_back(nowSeconds());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int64_t expected = static_cast<int64_t>(stored.size() * stored.begin()->second.size());
    const auto wait = SteadyClock::now() + std::chrono::seconds(60);
    PgConnection reader(ConnectionSettings{conninfo, std::nullopt});
    while (SteadyClock::now() < wait &&
           reader.exec("SELECT count(*) FROM velta36_events").integer(0, 0) < expected)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
    loop.join();
    PgResult rows = reader.exec(
        "SELECT site, card::bigint, extract(epoch FROM pg_xact_commit_timestamp(xmin))::text FROM velta36_events");
    std::vector<double> latencies;
    for (int r = 0; r < rows.rows(); ++r) {
        const std::vector<double>& times = stored[rows.text(r, 0)];
        const std::size_t index = static_cast<std::size_t>(rows.integer(r, 1) - 1);
        if (index < times.size())
            latencies.push_back((std::stod(rows.text(r, 2)) - times[index]) * 1000.0);
    }
    if (latencies.empty())
        throw std::runtime_error("no event reached the central table");
    std::printf("RESULT latency events=%lld stored_central=%zu p50_ms=%.1f p99_ms=%.1f max_ms=%.1f\n",
                static_cast<long long>(expected), latencies.size(), Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::fflush(stdout);
}

void GapByReplay(velta36test::PostgresServer& server, int runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        velta36test::TempWorkDir dir;
        velta36test::MosquittoBroker broker;
        const std::string conninfo = FreshDatabase(server);
        velta36test::SimulatedSite site("gap", 1, broker.url(), dir.file("gap"), VELTA36_UPSTREAM_CHILD);
        site.start();
        site.add(1000);
        // Published to no one: the broker keeps only the retained state.
        std::this_thread::sleep_for(std::chrono::seconds(3));

        CollectorOptions options;
        options.gaps.grace = std::chrono::milliseconds(0);
        options.gapCheckEvery = std::chrono::milliseconds(10);
        // Said on the writer thread.
        std::atomic<int64_t> askedAt{0};
        options.log = [&askedAt](const std::string& line) {
            if (askedAt == 0 && line.rfind("asking ", 0) == 0)
                askedAt = SteadyClock::now().time_since_epoch().count();
        };
        CollectorSession session(Broker(broker, "bench-gap"), ConnectionSettings{conninfo, std::nullopt}, options);
        RunUntil(session, [&] { return session.collectorStats().inserted >= 1000; }, std::chrono::seconds(60));
        if (askedAt == 0 || session.collectorStats().inserted != 1000)
            throw std::runtime_error("the gap was not closed: " + std::to_string(session.collectorStats().inserted));
        const SteadyClock::time_point asked{SteadyClock::duration(askedAt.load())};
        times.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - asked).count());
    }
    std::printf("RESULT broker_gap events=1000 runs=%d close_ms=%.1f\n", runs, Median(times));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    int events = 100000, runs = 1, seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--events")
            events = std::atoi(argv[i + 1]);
        else if (flag == "--runs")
            runs = std::atoi(argv[i + 1]);
        else if (flag == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        else {
            std::cerr << "usage: velta36-bench-collect [--events N] [--runs N] [--seconds N]\n";
            return 2;
        }
    }
    try {
        velta36test::PostgresOptions options;
        options.fsync = true;
        options.settings = {"shared_buffers=256MB", "max_wal_size=4GB", "track_commit_timestamp=on"};
        velta36test::PostgresServer server(options);
        BurstFromBroker(server, events, runs);
        SiteToCentral(server, seconds);
        GapByReplay(server, 3);
    } catch (const std::exception& error) {
        std::cerr << "velta36-bench-collect: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
