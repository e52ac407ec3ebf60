// Runs a number of operations of one kind, for counting instructions under
// callgrind (which counts the same on a loaded machine as on an idle one):
//   velta36-bench-count event|status|ack|save|raw COUNT
//     event   VELTA36::process on a full event reply (10 records saved)
//     status  VELTA36::process on a door-status reply
//     ack     VELTA36::process on the acknowledgement of a full batch
//     save    VELTA36::SaveDoorEvent of one event
//     raw     the same row stored by plain SQLite, statements prepared once
// Set-up costs the same for any COUNT, so the difference between two counts
// divided by the difference in operations is the cost of one, free of
// start-up. The database is created under $TMPDIR (use /dev/shm).
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "bench_store.h"
#include "decode_rig.h"
#include "event_db.h"
#include "temp_work_dir.h"
#include "velta36.h"

namespace {

int Usage(const char* program)
{
    std::cerr << "usage: " << program << " event|status|ack|save|raw COUNT\n";
    return 2;
}

// Rows an operation of the kind leaves behind.
long long RowsPer(const std::string& kind)
{
    if (kind == "event")
        return velta36bench::DecodeRig::kRecordsPerReply;
    return kind == "save" || kind == "raw" ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage(argv[0]);
    const std::string kind = argv[1];
    const long count = std::atol(argv[2]);
    if ((kind != "event" && kind != "status" && kind != "ack" && kind != "save" && kind != "raw") || count < 0)
        return Usage(argv[0]);

    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();
    velta36bench::DecodeRig rig;
    VELTA36 device;
    velta36bench::RawStore raw;
    velta36_event event = velta36bench::SampleEvent();
    std::string failure;
    long long rowsBefore = 0;
    try {
        // One operation of each kind first, so that every counted run has
        // opened its connections and warmed the same caches.
        failure = rig.StatusReply();
        if (failure.empty())
            failure = rig.EventReply();
        if (failure.empty())
            failure = rig.Acknowledgement();
        device.SaveDoorEvent(event);
        raw.Save(event);
        rowsBefore = velta36bench::CountEventRows();
        for (long i = 0; i < count && failure.empty(); ++i) {
            if (kind == "event")
                failure = rig.EventReply();
            else if (kind == "status")
                failure = rig.StatusReply();
            else if (kind == "ack")
                failure = rig.Acknowledgement();
            else if (kind == "save")
                device.SaveDoorEvent(event);
            else
                raw.Save(event);
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty()) {
        std::cerr << kind << ": " << failure << "\n";
        return 1;
    }
    // Every counted operation must have stored what it should have.
    const long long rows = velta36bench::CountEventRows() - rowsBefore;
    if (rows != RowsPer(kind) * count) {
        std::cerr << kind << ": " << rows << " rows stored, expected " << RowsPer(kind) * count << "\n";
        return 1;
    }
    std::cerr << "RESULT count kind=" << kind << " operations=" << count << " rows=" << rows << "\n";
    return 0;
}
