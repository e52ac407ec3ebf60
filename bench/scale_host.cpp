// One host process at scale: simulated controllers on several lines (4 per
// line on 8 lines by default), every device storing into the one database
// file, driven by the reference host's scheduler over pseudo-terminals.
//   velta36-bench-scale [--lines 8] [--per-line 4] [--events 100] [--baud 0]
//                       [--memory-devices 200] [--journal delete|wal]
// --baud 0 leaves the lines unpaced (what the host can do); a rate paces the
// controllers' replies like a real line. Afterwards it measures what one
// device object costs: the heap growth per created and configured device,
// and per device once its database connection is open (after its first
// save). The database is created under $TMPDIR, in SQLite's default
// rollback-journal mode or, with "--journal wal", switched to write-ahead
// logging (a property of the file that every connection then uses).
// Prints one RESULT line.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "bench_store.h"
#include "event_db.h"
#include "process_memory.h"
#include "quiet_stdout.h"
#include "refhost/scheduler.h"
#include "refhost/serial_transport.h"
#include "temp_work_dir.h"
#include "velta36.h"
#include "velta36_event.hxx"
#include "velta36sim/clock.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

namespace {

struct Options {
    int lines = 8;
    int perLine = 4;
    int events = 100;        // per controller
    int baud = 0;            // 0: unpaced
    int memoryDevices = 200;
    bool wal = false;
};

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (flag == "--journal") {
            const std::string mode = argv[i + 1];
            if (mode != "delete" && mode != "wal")
                return false;
            o.wal = mode == "wal";
        } else if (flag == "--lines")
            o.lines = value;
        else if (flag == "--per-line")
            o.perLine = value;
        else if (flag == "--events")
            o.events = value;
        else if (flag == "--baud")
            o.baud = value;
        else if (flag == "--memory-devices")
            o.memoryDevices = value;
        else
            return false;
    }
    return argc % 2 == 1 && o.lines > 0 && o.perLine > 0 && o.perLine <= 10 && o.events >= 0 &&
           o.memoryDevices > 0 && (o.baud == 0 || refhost::IsStandardBaud(o.baud));
}

Json::Value DeviceConfig(int dataId, int address)
{
    Json::Value config(Json::objectValue);
    config["data_id"] = dataId;
    config["address"] = address;
    config["appSetting"]["doors"] = 2;
    config["appSetting"]["card_type"] = 1;
    return config;
}

// Rows of velta36_event per data_id.
std::map<long long, long long> RowsPerDataId()
{
    std::map<long long, long long> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2("ZRMDevice.db", &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT data_id, count(*) FROM velta36_event GROUP BY data_id", -1, &st,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW)
                rows[sqlite3_column_int64(st, 0)] = sqlite3_column_int64(st, 1);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
}

// Switches the database file to write-ahead logging; false on failure.
bool UseWriteAheadLog()
{
    sqlite3* db = nullptr;
    bool done = false;
    if (sqlite3_open_v2("ZRMDevice.db", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char* mode = sqlite3_column_text(st, 0);
            done = mode && std::string(reinterpret_cast<const char*>(mode)) == "wal";
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return done;
}

long long TotalRows()
{
    long long n = 0;
    for (const auto& r : RowsPerDataId())
        n += r.second;
    return n;
}

struct ScaleOutcome {
    double seconds = 0;
    long long seeded = 0;
    long long rows = 0;
    long long lost = 0;        // seeded events of a device with no row
    long long duplicates = 0;  // rows beyond the device's seeded events
    uint64_t timeouts = 0;
    std::size_t lineErrors = 0;
};

ScaleOutcome RunHost(const Options& o)
{
    velta36sim::SteadyClock clock;
    std::vector<std::unique_ptr<velta36sim::SharedLine>> lines;
    std::vector<std::unique_ptr<velta36sim::LineServer>> servers;
    // Transport and timeouts need a rate; pseudo-terminals ignore it.
    const int lineBaud = o.baud > 0 ? o.baud : 115200;
    refhost::Scheduler scheduler{refhost::Scheduler::Options()};
    ScaleOutcome outcome;
    std::map<long long, long long> seeded;

    for (int l = 0; l < o.lines; ++l) {
        lines.emplace_back(new velta36sim::SharedLine(clock));
        velta36sim::SharedLine& line = *lines.back();
        for (int a = 0; a < o.perLine; ++a) {
            velta36sim::ControllerOptions controller;
            controller.address = a;
            controller.doors = 2;
            line.Add(controller);
            velta36sim::GeneratorOptions generator;
            generator.seed = static_cast<uint64_t>(1000 + l * 16 + a);
            generator.count = o.events;
            generator.doors = 2;
            generator.trackingIndependentOnly = true;
            const std::vector<velta36sim::EventRecord> records =
                velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));
            line.With(a, [&](velta36sim::SimulatedController& c) { c.controller().StoreEvents(records); });
            seeded[1 + l * o.perLine + a] = static_cast<long long>(records.size());
            outcome.seeded += static_cast<long long>(records.size());
        }
        velta36sim::ServerOptions serverOptions;
        serverOptions.baud = o.baud;
        servers.emplace_back(new velta36sim::LineServer(line, serverOptions));
        const std::string pty = servers.back()->StartPty();
        const std::size_t index = scheduler.addLine(
            "line" + std::to_string(l),
            std::unique_ptr<refhost::Transport>(new refhost::SerialTransport(pty, lineBaud)), lineBaud);
        for (int a = 0; a < o.perLine; ++a) {
            scheduler.addDevice(index, "line" + std::to_string(l) + "/" + std::to_string(a),
                                refhost::DeviceHandle(new VELTA36(), refhost::DeviceDeleter{}),
                                DeviceConfig(1 + l * o.perLine + a, a));
        }
    }
    scheduler.setCycleCheck([&](std::size_t l) {
        bool drained = true;
        for (int32_t address : lines[l]->Addresses()) {
            lines[l]->With(address, [&](velta36sim::SimulatedController& c) {
                drained = drained && c.controller().StoredEvents().empty() && c.controller().OutstandingBatch() == 0;
            });
        }
        return drained;
    });

    const auto start = std::chrono::steady_clock::now();
    scheduler.start();
    scheduler.wait();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& server : servers)
        server->Stop();

    for (const std::string& error : scheduler.errors())
        std::cerr << "line error: " << error << "\n";
    outcome.lineErrors = scheduler.errors().size();
    for (const refhost::DeviceProgress& p : scheduler.progress())
        outcome.timeouts += p.timeouts;
    const std::map<long long, long long> rows = RowsPerDataId();
    for (const auto& device : seeded) {
        auto it = rows.find(device.first);
        const long long stored = it == rows.end() ? 0 : it->second;
        outcome.rows += stored;
        if (stored < device.second)
            outcome.lost += device.second - stored;
        else
            outcome.duplicates += stored - device.second;
    }
    for (const auto& r : rows) {
        if (!seeded.count(r.first)) {
            outcome.rows += r.second;
            outcome.duplicates += r.second;
        }
    }
    return outcome;
}

struct DeviceCost {
    double configuredBytes = 0;   // heap per created and configured device
    double connectedBytes = 0;    // heap per device after its first save
    long long savedRows = 0;
};

// Heap growth over many devices, divided by their number: what one device
// object costs the host, before and after its database connection opens.
DeviceCost MeasureDeviceCost(int count)
{
    DeviceCost cost;
    const long long rowsBefore = TotalRows();
    std::vector<std::unique_ptr<VELTA36>> devices;
    devices.reserve(static_cast<std::size_t>(count));
    const long long before = velta36bench::HeapInUse();
    for (int i = 0; i < count; ++i) {
        devices.emplace_back(new VELTA36());
        devices.back()->InitSetting(DeviceConfig(10000 + i, i % 10));
    }
    const long long configured = velta36bench::HeapInUse();
    for (auto& device : devices) {
        velta36_event event = velta36bench::SampleEvent();
        event.data_id = device->DataId();
        device->SaveDoorEvent(event);
    }
    const long long connected = velta36bench::HeapInUse();
    cost.configuredBytes = static_cast<double>(configured - before) / count;
    cost.connectedBytes = static_cast<double>(connected - before) / count;
    cost.savedRows = TotalRows() - rowsBefore;
    return cost;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::cerr << "usage: " << argv[0]
                  << " [--lines N] [--per-line N<=10] [--events N] [--baud 0|RATE] [--memory-devices N]"
                     " [--journal delete|wal]\n";
        return 2;
    }
    std::ostream& out = velta36bench::QuietStdout();
    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();
    if (o.wal && !UseWriteAheadLog()) {
        std::cerr << "could not switch the database to write-ahead logging\n";
        return 1;
    }

    const ScaleOutcome run = RunHost(o);
    // The peak belongs to the host run: read it before the device-cost part.
    const long long peakKb = velta36bench::StatusKb("VmHWM");
    const DeviceCost cost = MeasureDeviceCost(o.memoryDevices);

    char line[640];
    std::snprintf(line, sizeof line,
                  "RESULT scale lines=%d devices=%d baud=%d journal=%s events=%lld seconds=%.3f rate=%.1f rows=%lld "
                  "lost=%lld duplicates=%lld timeouts=%llu line_errors=%zu peak_kb=%lld "
                  "device_bytes=%.0f device_connected_bytes=%.0f cost_rows=%lld/%d\n",
                  o.lines, o.lines * o.perLine, o.baud, o.wal ? "wal" : "delete", run.seeded, run.seconds, run.rows / run.seconds, run.rows,
                  run.lost, run.duplicates, static_cast<unsigned long long>(run.timeouts), run.lineErrors, peakKb,
                  cost.configuredBytes, cost.connectedBytes, cost.savedRows, o.memoryDevices);
    out << line;
    return run.lost == 0 && run.duplicates == 0 && cost.savedRows == o.memoryDevices ? 0 : 1;
}
