// Runs a number of replies of one kind through VELTA36::process, for
// counting instructions under callgrind:
//   velta36-bench-decode-count event|status|ack COUNT
// Set-up costs the same for any COUNT, so the difference between two counts
// divided by the difference in replies is the cost of one reply, free of
// start-up. The database is created under $TMPDIR (use /dev/shm).
#include <cstdlib>
#include <iostream>
#include <string>

#include "decode_rig.h"
#include "event_db.h"
#include "temp_work_dir.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " event|status|ack COUNT\n";
        return 2;
    }
    const std::string kind = argv[1];
    const long count = std::atol(argv[2]);
    if ((kind != "event" && kind != "status" && kind != "ack") || count < 0) {
        std::cerr << "usage: " << argv[0] << " event|status|ack COUNT\n";
        return 2;
    }

    velta36test::TempWorkDir dir;
    velta36test::CreateEventDatabase();
    velta36bench::DecodeRig rig;
    // One reply of each kind first, so that every counted run has opened
    // the database connection and warmed the same caches.
    std::string failure = rig.StatusReply();
    if (failure.empty())
        failure = rig.EventReply();
    if (failure.empty())
        failure = rig.Acknowledgement();
    for (long i = 0; i < count && failure.empty(); ++i) {
        if (kind == "event")
            failure = rig.EventReply();
        else if (kind == "status")
            failure = rig.StatusReply();
        else
            failure = rig.Acknowledgement();
    }
    if (!failure.empty()) {
        std::cerr << kind << " reply: " << failure << "\n";
        return 1;
    }
    const long long rows = velta36bench::CountEventRows();
    const long long expected = velta36bench::DecodeRig::kRecordsPerReply * (1 + (kind == "event" ? count : 0));
    if (rows != expected) {
        std::cerr << "rows stored: " << rows << ", expected " << expected << "\n";
        return 1;
    }
    std::cerr << kind << " replies: " << count << "\n";
    return 0;
}
