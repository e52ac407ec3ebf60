// Events per second drained from one simulated controller through a
// pseudo-terminal whose controller side is paced at a baud rate, against
// the rate that the bytes of the same exchange allow on the wire (10 bits a
// byte, both directions):
//   velta36-bench-drain --baud 9600 --batches 20 [--pacing deadline|sleep]
// The simulator's line server sleeps the time of each byte after writing it,
// so every oversleep of a loaded machine adds up and the line runs slower
// than its rate. "--pacing deadline" (the default) gives it a sleep that
// waits until each byte's due time on a running schedule instead, so the
// line keeps its rate on average; "--pacing sleep" keeps the server's own.
// The database is created under $TMPDIR. Prints one RESULT line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "drain_trace.h"
#include "event_db.h"
#include "quiet_stdout.h"
#include "refhost/scheduler.h"
#include "refhost/serial_transport.h"
#include "temp_work_dir.h"
#include "velta36.h"
#include "velta36sim/clock.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

namespace {

struct Options {
    int32_t baud = 9600;
    int32_t batches = 20;
    bool deadline = true;
};

// Sleeps until the due time of the next byte, like a UART sending a frame
// handed to it whole: the schedule advances by the requested time per call,
// so an oversleep shorter than a byte is made up by the following bytes.
// A longer lag means the line was idle (or the writer stalled): the
// schedule restarts from now, so bytes are never sent ahead of the rate.
std::function<void(int64_t)> DeadlineSleep()
{
    auto due = std::make_shared<std::chrono::steady_clock::time_point>();
    return [due](int64_t microseconds) {
        const auto now = std::chrono::steady_clock::now();
        const std::chrono::microseconds byteTime(microseconds);
        if (*due + byteTime < now)
            *due = now;
        *due += byteTime;
        std::this_thread::sleep_until(*due);
    };
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (flag == "--pacing") {
            const std::string pacing = argv[i + 1];
            if (pacing != "deadline" && pacing != "sleep")
                return false;
            options.deadline = pacing == "deadline";
        } else if (flag == "--baud")
            options.baud = value;
        else if (flag == "--batches")
            options.batches = value;
        else
            return false;
    }
    return argc % 2 == 1 && refhost::IsStandardBaud(options.baud) && options.batches > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << "usage: " << argv[0] << " [--baud RATE] [--batches COUNT] [--pacing deadline|sleep]\n";
        return 2;
    }
    std::ostream& out = velta36bench::QuietStdout();
    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();

    // Records that each decode to exactly one row, so rows tell lost events.
    velta36sim::SteadyClock clock;
    velta36sim::SharedLine line(clock);
    velta36sim::ControllerOptions controllerOptions;
    controllerOptions.address = 0;
    controllerOptions.doors = 2;
    line.Add(controllerOptions);
    velta36sim::GeneratorOptions generator;
    generator.seed = 36;
    generator.count = options.batches * velta36sim::kBatchSize;
    generator.doors = 2;
    generator.trackingIndependentOnly = true;
    const std::vector<velta36sim::EventRecord> records =
        velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));
    line.With(0, [&](velta36sim::SimulatedController& c) { c.controller().StoreEvents(records); });

    velta36sim::ServerOptions serverOptions;
    serverOptions.baud = options.baud;
    if (options.deadline)
        serverOptions.sleep = DeadlineSleep();
    velta36sim::LineServer server(line, serverOptions);
    const std::string pty = server.StartPty();

    refhost::Scheduler scheduler{refhost::Scheduler::Options()};
    scheduler.addLine("bench", std::unique_ptr<refhost::Transport>(new refhost::SerialTransport(pty, options.baud)),
                      options.baud);
    Json::Value config(Json::objectValue);
    config["data_id"] = 1;
    config["address"] = 0;
    config["appSetting"]["doors"] = 2;
    scheduler.addDevice(0, "controller", refhost::DeviceHandle(new VELTA36(), refhost::DeviceDeleter{}), config);

    std::mutex traceMutex;
    std::vector<refhost::TraceRecord> trace;
    scheduler.setTraceObserver([&](const refhost::TraceRecord& r) {
        std::lock_guard<std::mutex> lock(traceMutex);
        trace.push_back(r);
    });
    scheduler.setCycleCheck([&](std::size_t) {
        bool drained = false;
        line.With(0, [&](velta36sim::SimulatedController& c) {
            drained = c.controller().StoredEvents().empty() && c.controller().OutstandingBatch() == 0;
        });
        return drained;
    });
    scheduler.start();
    scheduler.wait();
    server.Stop();

    for (const std::string& error : scheduler.errors())
        std::cerr << "line error: " << error << "\n";
    std::vector<refhost::TraceRecord> copy;
    {
        std::lock_guard<std::mutex> lock(traceMutex);
        copy = trace;
    }
    const velta36bench::DrainWindow window = velta36bench::AnalyseDrain(copy);
    const long long rows = static_cast<long long>(velta36test::ReadEventRows().size());
    const long long seeded = static_cast<long long>(records.size());
    const long long lost = rows < seeded ? seeded - rows : 0;
    const long long duplicates = rows > seeded ? rows - seeded : 0;
    if (window.batches == 0 || window.seconds <= 0) {
        std::cerr << "no complete batch in the trace\n";
        return 1;
    }
    const double rate = window.records / window.seconds;
    // What the wire allows for the same exchange: its bytes at 10 bits each.
    const double batchesPerSecond = options.baud / 10.0 / window.BytesPerBatch();
    const double limit = batchesPerSecond * (static_cast<double>(window.records) / window.batches);
    // The pseudo-terminal paces only the controller's side; this is how
    // long that side's bytes take at the nominal rate, against the window.
    const double pacedShare = window.bytesFromDevice * 10.0 / options.baud / window.seconds;
    const uint32_t timeouts = scheduler.progress().at(0).timeouts;

    char report[512];
    std::snprintf(report, sizeof report,
                  "RESULT drain baud=%d pacing=%s batches=%llu events=%llu seconds=%.3f rate=%.2f "
                  "bytes_per_batch=%.1f limit=%.2f ratio=%.3f paced_share=%.3f host_share=%.3f timeouts=%u rows=%lld "
                  "lost=%lld duplicates=%lld\n",
                  options.baud, options.deadline ? "deadline" : "sleep",
                  static_cast<unsigned long long>(window.batches),
                  static_cast<unsigned long long>(window.records), window.seconds, rate, window.BytesPerBatch(),
                  limit, rate / limit, pacedShare, window.hostSeconds / window.seconds, timeouts, rows, lost, duplicates);
    out << report;
    return lost == 0 && duplicates == 0 ? 0 : 1;
}
