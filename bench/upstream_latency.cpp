// How soon an event stored at a site reaches a subscriber through the MQTT
// upstream, wired as `velta36 run --mqtt` wires it (RunUpstream): four
// simulated controllers on one pseudo-terminal paced at 9600 baud, polled
// by a site with the loaded velta36.so, each handed one event at a time as
// doors are used; a mosquitto started here; a subscriber notes when each
// event arrives.
//
//   velta36-bench-upstream-latency PLUGIN [--events N] [--every MS]
//
// The commit time of a row is taken by a trigger in ZRMDevice.db (the
// insert's time, a little before the commit: the delay measured is, if
// anything, too long). The last line (RESULT) holds p50, p99 and max in ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "json_parse.h"
#include "mosquitto_broker.h"
#include "mqtt_test_client.h"
#include "raw_database.h"
#include "run_upstream.h"
#include "site.h"
#include "temp_work_dir.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

namespace {

const int kControllers = 4;

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// The insert time of each row, in seconds since the epoch.
std::map<int64_t, double> CommitTimes()
{
    velta36test::RawDatabase db(velta36site::kDatabaseFile);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db.handle(), "SELECT id, at FROM bench_commit", -1, &statement, nullptr);
    std::map<int64_t, double> times;
    while (sqlite3_step(statement) == SQLITE_ROW)
        times[sqlite3_column_int64(statement, 0)] = sqlite3_column_double(statement, 1);
    sqlite3_finalize(statement);
    return times;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velta36-bench-upstream-latency PLUGIN [--events N] [--every MS]\n");
        return 2;
    }
    const std::string plugin = std::filesystem::absolute(argv[1]).string();
    int events = 400;
    int everyMs = 100;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--events") == 0)
            events = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--every") == 0)
            everyMs = std::atoi(argv[i + 1]);
    }
    try {
        velta36test::TempWorkDir dir;
        velta36test::MosquittoBroker broker;
        velta36sim::SteadyClock clock;
        velta36sim::SharedLine line(clock);
        Json::Value devices(Json::arrayValue);
        for (int a = 1; a <= kControllers; ++a) {
            velta36sim::ControllerOptions controller;
            controller.address = a;
            controller.doors = 2;
            line.Add(controller);
            Json::Value device(Json::objectValue);
            device["name"] = "c" + std::to_string(a);
            device["address"] = a;
            device["baud"] = 9600;
            device["appSetting"]["doors"] = 2;
            devices.append(device);
        }
        velta36sim::ServerOptions serving;
        serving.baud = 9600;
        velta36sim::LineServer server(line, serving);
        std::ofstream("site.json") << devices.toStyledString();

        velta36site::SiteOptions options;
        options.port = server.StartPty();
        options.config = "site.json";
        options.plugin = plugin;
        velta36site::Site site(velta36site::ReadSiteConfig(options));
        site.loadPlugin();
        site.enterWorkingFolder();
        const velta36site::DatabaseSetupReport setup = site.setUpEventDatabase();
        if (!setup.error.empty())
            throw std::runtime_error(setup.error);
        velta36test::RawDatabase(velta36site::kDatabaseFile)
            .exec("CREATE TABLE bench_commit(id INTEGER PRIMARY KEY, at REAL);"
                  "CREATE TRIGGER bench_commit_at AFTER INSERT ON velta36_event BEGIN "
                  "INSERT INTO bench_commit VALUES (new.id, (julianday('now') - 2440587.5) * 86400.0); END");
        site.silencePluginOutput();
        site.openLines();

        velta36cli::Console console;
        std::unique_ptr<velta36cli::RunUpstream> upstream =
            velta36cli::RunUpstream::FromSettings(velta36cli::MqttOptions{broker.url(), std::string("bench")},
                                                  Json::Value());
        upstream->attach(site, console);

        velta36test::ClientOptions client;
        client.port = broker.port();
        client.clientId = "latency";
        velta36test::TestMqttClient subscriber(client);
        subscriber.subscribe("velta36/bench/+/event");

        velta36sim::GeneratorOptions generator;
        generator.seed = 21;
        generator.count = events;
        generator.doors = 2;
        generator.trackingIndependentOnly = true;
        const std::vector<velta36sim::EventRecord> records = velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));

        upstream->start();
        site.start();
        std::this_thread::sleep_for(std::chrono::seconds(2));   // connected, first rounds done

        // Arrival times, noted as each message comes in.
        std::vector<double> arrived;
        std::thread feeder([&] {
            for (int i = 0; i < events; ++i) {
                line.With(1 + i % kControllers, [&](velta36sim::SimulatedController& c) {
                    c.controller().StoreEvents({records[static_cast<std::size_t>(i)]});
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            }
        });
        const bool all = subscriber.waitFor([&](const std::vector<velta36test::ReceivedMessage>& m) {
            while (arrived.size() < m.size())
                arrived.push_back(WallSeconds());
            return m.size() >= static_cast<std::size_t>(events);
        }, std::chrono::milliseconds(events * everyMs + 60000));
        feeder.join();
        site.stop();
        site.wait();
        upstream->stop();
        if (!all)
            throw std::runtime_error("only " + std::to_string(arrived.size()) + " of " + std::to_string(events) +
                                     " events arrived");

        const std::map<int64_t, double> committed = CommitTimes();
        const std::vector<velta36test::ReceivedMessage> messages = subscriber.messages();
        std::vector<double> delays;
        for (std::size_t i = 0; i < messages.size() && i < arrived.size(); ++i) {
            const auto it = committed.find(velta36test::ParseJson(messages[i].payload)["row"].asInt64());
            if (it != committed.end())
                delays.push_back(std::max(0.0, (arrived[i] - it->second) * 1000.0));
        }
        std::printf("RESULT latency controllers=%d baud=9600 events=%zu every_ms=%d p50_ms=%.1f p99_ms=%.1f "
                    "max_ms=%.1f\n",
                    kControllers, delays.size(), everyMs, Percentile(delays, 0.5), Percentile(delays, 0.99),
                    *std::max_element(delays.begin(), delays.end()));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velta36-bench-upstream-latency: %s\n", e.what());
        return 1;
    }
}
