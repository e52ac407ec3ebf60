// A velta36 device on an in-memory line in a scratch directory holding an
// empty ZRMDevice.db: feed it reply chunks, then read back what it sent, the
// host calls it made, and the rows it stored.
#ifndef VELTA36_TESTS_PROTOCOL_PROTOCOL_RIG_H
#define VELTA36_TESTS_PROTOCOL_PROTOCOL_RIG_H

#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "refhost/device_host.h"
#include "refhost/memory_transport.h"
#include "velta36.h"

struct EventRow {
    long long id;
    long long dataId;
    bool hasTime;
    std::string time;   // "YYYY-MM-DD HH:MM:SS" when hasTime
    int channel;
    int type;
    std::string card;
    std::string reason;
};

// Changes into a fresh directory with ZRMDevice.db and its event table, and
// back out (removing it) on destruction.
class ScratchDatabase {
public:
    ScratchDatabase();
    ~ScratchDatabase();
    std::vector<EventRow> rows() const;
    std::string path() const { return dir_ + "/ZRMDevice.db"; }

private:
    std::string dir_;
    std::string previous_;
};

class ProtocolRig {
public:
    // doors and the delays as "appSetting"; address 0, data id 77.
    explicit ProtocolRig(int doors = 1, int door1Delay = 3, int door2Delay = 3, int cardType = 1);

    int feed(const std::string& chunk);
    int feedEmpty();

    // Host calls since the last clear, one line each: "Send <frame>",
    // "Delay 3000", "Reset", "SendSP 5045", "BatchCheck", "History", ...
    std::vector<std::string> calls() const { return calls_; }
    std::vector<std::string> sentFrames() const;
    void clear();

    // The 13-byte records handed over with SendSP since the last clear.
    std::vector<std::vector<unsigned char>> published() const { return published_; }
    std::vector<EventRow> rows() const { return db_.rows(); }

    ScratchDatabase db_;
    refhost::MemoryTransport line;
    refhost::DeviceHost host;
    std::unique_ptr<VELTA36> device;

private:
    std::vector<std::string> calls_;
    std::vector<std::vector<unsigned char>> published_;
};

#endif
