// The MQTT upstream with a backlog, against a local mosquitto:
//
//   velta36-bench-upstream [--events N] [--window W] [--rounds R]
//
// 1. Throughput: N stored events published at QoS 1 by the engine (from
//    ZRMDevice.db through its outbox, every row committed before it is
//    sent, the cursor kept) against a plain libmosquitto publisher sending
//    the same payloads from memory with the same in-flight window, on the
//    same broker, one after the other in each of R rounds; the medians of
//    the rates and of the rounds' ratios.
// 2. Memory: the engine in a child process, its peak resident set (VmHWM)
//    once with no backlog and once with N events to send.
//
// The last line (RESULT) holds every figure as key=value for scripts/bench.sh.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "event_table_sql.h"
#include "mosquitto_broker.h"
#include "outbox.h"
#include "process_memory.h"
#include "raw_database.h"
#include "temp_work_dir.h"
#include "upstream.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Args {
    int events = 100000;
    int window = 20;
    int rounds = 3;
};

void FillSite(const std::string& path, int events)
{
    sqlite3* file = nullptr;
    sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_close(file);
    velta36test::RawDatabase db(path);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec(velta36test::kEventTableDefinition);
    db.exec("BEGIN");
    for (int i = 0; i < events; ++i) {
        char sql[256];
        std::snprintf(sql, sizeof(sql),
                      "INSERT INTO velta36_event(data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) VALUES "
                      "(%d, '2024-03-05 07:08:00', 1, 1, '%08d', '刷卡进门成功')",
                      1 + i % 4, i);
        db.exec(sql);
    }
    db.exec("COMMIT");
}

velta36up::UpstreamOptions EngineOptions(const velta36test::MosquittoBroker& broker, const std::string& site,
                                         const std::string& state, int window)
{
    Json::Value settings(Json::objectValue);
    settings["url"] = broker.url();
    settings["site"] = "bench";
    settings["discovery"] = false;
    velta36up::UpstreamOptions options;
    options.settings = velta36up::ParseSettings(settings);
    for (int d = 1; d <= 4; ++d)
        options.devices.push_back(velta36up::DeviceInfo{"c" + std::to_string(d), "c" + std::to_string(d), d, 2});
    options.eventDatabase = site;
    options.stateFolder = state;
    options.window = window;
    options.log = [](const std::string&) {};
    return options;
}

// Seconds until the engine had every event acknowledged, from a fresh state;
// `assigning` gets the seconds until every row was in its outbox.
double EngineRun(const velta36test::MosquittoBroker& broker, const std::string& site, const std::string& state,
                 const Args& args, double* assigning = nullptr)
{
    velta36test::detail::RemoveTree(state);
    velta36up::Upstream engine(EngineOptions(broker, site, state, args.window));
    const auto began = Clock::now();
    engine.start();
    bool allAssigned = false;
    while (engine.stats().acknowledged < static_cast<uint64_t>(args.events)) {
        if (!allAssigned && engine.stats().assigned >= static_cast<uint64_t>(args.events)) {
            allAssigned = true;
            if (assigning)
                *assigning = std::chrono::duration<double>(Clock::now() - began).count();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    engine.stop();
    return seconds;
}

// A plain libmosquitto publisher: the same payloads, the same window, the
// same kind of loop (its socket in poll), nothing stored.
struct PlainPublisher {
    int inFlight = 0;
    int acknowledged = 0;
    bool connected = false;
};

double PlainRun(const velta36test::MosquittoBroker& broker, const std::vector<std::pair<std::string, std::string>>& messages,
                int window)
{
    PlainPublisher state;
    mosquitto* mosq = mosquitto_new("bench-plain", true, &state);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(mosq, [](mosquitto*, void* o, int rc, int, const mosquitto_property*) {
        static_cast<PlainPublisher*>(o)->connected = rc == 0;
    });
    mosquitto_publish_v5_callback_set(mosq, [](mosquitto*, void* o, int, int, const mosquitto_property*) {
        auto* s = static_cast<PlainPublisher*>(o);
        --s->inFlight;
        ++s->acknowledged;
    });
    const auto began = Clock::now();
    mosquitto_connect(mosq, "127.0.0.1", broker.port(), 30);
    std::size_t next = 0;
    while (state.acknowledged < static_cast<int>(messages.size())) {
        while (state.connected && next < messages.size() && state.inFlight < window) {
            const auto& [topic, payload] = messages[next++];
            mosquitto_publish_v5(mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                 false, nullptr);
            ++state.inFlight;
        }
        pollfd fd{mosquitto_socket(mosq), static_cast<short>(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
        ::poll(&fd, 1, 1000);
        if (fd.revents & POLLIN)
            mosquitto_loop_read(mosq, 1000);
        if (mosquitto_want_write(mosq))
            mosquitto_loop_write(mosq, 1000);
        mosquitto_loop_misc(mosq);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    mosquitto_disconnect(mosq);
    mosquitto_destroy(mosq);
    return seconds;
}

// The engine alone in a child process; its VmHWM in kB once all of the
// backlog (or, with none, a second of being connected) is behind it.
long long ChildPeak(const velta36test::MosquittoBroker& broker, const std::string& site, const std::string& state,
                    const Args& args, int backlog)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        velta36test::detail::RemoveTree(state);
        velta36up::Upstream engine(EngineOptions(broker, site, state, args.window));
        engine.start();
        while (!engine.stats().connected || engine.stats().acknowledged < static_cast<uint64_t>(backlog))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long long peak = velta36bench::StatusKb("VmHWM");
        engine.stop();
        const ssize_t ignored = ::write(pipeFds[1], &peak, sizeof(peak));
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    long long peak = -1;
    if (::read(pipeFds[0], &peak, sizeof(peak)) != sizeof(peak))
        peak = -1;
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return peak;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    Args args;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--events")
            args.events = value;
        else if (key == "--window")
            args.window = value;
        else if (key == "--rounds")
            args.rounds = value;
    }
    try {
        velta36test::TempWorkDir dir;
        velta36test::MosquittoBroker broker;
        const std::string site = dir.file("ZRMDevice.db");
        const std::string state = dir.file("upstream");
        FillSite(site, args.events);

        // Memory first, while this process is small (a child starts with
        // what its parent holds): a site with nothing to send against the
        // whole backlog, each from a fresh state.
        const std::string empty = dir.file("empty.db");
        FillSite(empty, 0);
        const long long idlePeak = ChildPeak(broker, empty, state, args, 0);
        const long long backlogPeak = ChildPeak(broker, site, state, args, args.events);
        // The payloads exactly as the engine sends them, from its outbox.
        EngineRun(broker, site, state, args);
        std::vector<std::pair<std::string, std::string>> messages;
        {
            velta36up::Outbox outbox(state);
            for (int64_t n = 0;;) {
                const std::vector<velta36up::OutboxEntry> page = outbox.after(n, 10000);
                if (page.empty())
                    break;
                for (const velta36up::OutboxEntry& entry : page)
                    messages.emplace_back("velta36/bench/" + entry.device + "/event", entry.payload);
                n = page.back().n;
            }
        }
        std::vector<double> engine, plain, ratios, assigning;
        for (int r = 0; r < args.rounds; ++r) {
            double assigned = 0;
            engine.push_back(EngineRun(broker, site, state, args, &assigned));
            assigning.push_back(assigned);
            plain.push_back(PlainRun(broker, messages, args.window));
            ratios.push_back(plain.back() / engine.back());
            std::cout << "round " << r + 1 << ": engine " << args.events / engine.back() << " ev/s (all in its outbox after "
                      << assigned << " s), plain " << args.events / plain.back() << " ev/s" << std::endl;
        }
        const double engineRate = args.events / Median(engine);
        const double plainRate = args.events / Median(plain);
        // Each round runs both back to back under the same load; the median
        // of the rounds' ratios is the figure.
        const double ratio = Median(ratios);

        std::printf("RESULT events=%d window=%d engine_rate=%.0f plain_rate=%.0f ratio=%.3f idle_peak_kb=%lld "
                    "backlog_peak_kb=%lld growth_kb=%lld assign_s=%.2f\n",
                    args.events, args.window, engineRate, plainRate, ratio, idlePeak, backlogPeak,
                    backlogPeak - idlePeak, Median(assigning));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "velta36-bench-upstream: " << e.what() << std::endl;
        return 1;
    }
}
