// Whether a device's events are reaching the database, as the host sees it.
//
// The plug-in reports a failed attempt to store an event with one log line
// ("SaveDoorEvent odb::exception:<what>" or "SaveDoorEvent std::exception:
// <what>") and makes four attempts per event (both come from the store's
// store/save_attempts.h). When all four fail it does not acknowledge the
// batch ("v0"): the controller keeps the events. The watch follows one
// device's log lines and sent frames:
//   - four failure lines in a row (no other line or frame between them) are
//     one save that gave up: the fault starts (or goes on);
//   - an acknowledgement "v0" means every event of a batch is stored: the
//     fault is over.
// A fault noticed while the controller has no events waiting stays shown
// until events come and are stored.
#ifndef VELTA36_REFHOST_DATABASE_HEALTH_H
#define VELTA36_REFHOST_DATABASE_HEALTH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace refhost {

struct DatabaseHealth {
    bool faulty = false;          // the last save that ended gave up
    std::string lastError;        // what the last failed attempt reported
    uint64_t savesFailed = 0;     // saves that gave up (their batch stayed on the controller)
    uint64_t attemptsFailed = 0;  // failed attempts, also those a retry made good
    uint64_t faultsSeen = 0;      // times a fault started
};

class DatabaseHealthWatch {
public:
    enum class Change { None, FaultStarted, FaultCleared };

    Change onLogLine(const std::string& line);
    Change onFrameSent(const unsigned char* frame, std::size_t length);

    const DatabaseHealth& health() const { return health_; }

private:
    DatabaseHealth health_;
    int failuresInRow_ = 0;
};

}  // namespace refhost

#endif
