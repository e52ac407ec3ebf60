// Writes the seed corpora of the fuzz targets: transcripts of what a
// controller and a host really exchange with the device (polling rounds with
// every kind of event record, the control sequences with their
// acknowledgements and refusals, configurations and command arguments), put
// into each target's input layout.
//
//   velta36_fuzz_seeds <output-dir>    (makes <output-dir>/<target>/...)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "frames.h"

namespace fs = std::filesystem;
using velta36test::Ack;
using velta36test::DataFrame;
using velta36test::EventRecord;
using velta36test::EventRecordFields;

namespace {

// Indices into the state table of fuzz_process.cpp.
enum StateIndex {
    kEventRead = 0, kStatusRead = 1, kTimeSet = 2, kEventAck = 4, kDoorOpen = 6,
    kCfg1 = 8, kCardAdd1 = 26, kCardDel1 = 32
};
// Settings bits of fuzz_process.cpp.
const int kTwoDoors = 0x01, kFullBatch = 0x08, kNewRounds = 0x10;

int g_written = 0;

void Write(const fs::path& dir, const std::string& name, const std::string& bytes)
{
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + (dir / name).string());
    ++g_written;
}

// Store bits of fuzz_process.cpp.
const int kRefuse = 0xC0;

// One process input: header, then each chunk as its length byte and bytes;
// chunks longer than 256 bytes are cut.
std::string ProcessInput(int state, int settings, int tracking, const std::vector<std::string>& chunks,
                         int store = 0)
{
    std::string out;
    out += static_cast<char>(state);
    out += static_cast<char>(settings);
    out += static_cast<char>(tracking);
    out += static_cast<char>(store);
    for (std::string chunk : chunks) {
        while (!chunk.empty()) {
            const std::string part = chunk.substr(0, 256);
            chunk.erase(0, part.size());
            out += static_cast<char>(part.size() - 1);
            out += part;
        }
    }
    return out;
}

// The same chunks cut into pieces of n bytes.
std::vector<std::string> Cut(const std::vector<std::string>& chunks, size_t n)
{
    std::vector<std::string> out;
    for (const std::string& chunk : chunks)
        for (size_t i = 0; i < chunk.size(); i += n)
            out.push_back(chunk.substr(i, n));
    return out;
}

std::string Records(const std::vector<EventRecordFields>& records)
{
    std::string payload;
    for (const EventRecordFields& r : records)
        payload += EventRecord(r);
    return payload;
}

std::vector<EventRecordFields> EveryKind()
{
    std::vector<EventRecordFields> all;
    EventRecordFields in;                                   // granted entry, reader 1
    all.push_back(in);
    EventRecordFields out = in;  out.direction = "0;"; out.reader = '1';
    all.push_back(out);
    EventRecordFields unknown = in;  unknown.kind = '1';
    all.push_back(unknown);
    EventRecordFields zone = in;  zone.kind = '0'; zone.flag1 = '1'; zone.flag2 = '8';
    all.push_back(zone);
    EventRecordFields tail = in;  tail.kind = '0'; tail.flag2 = '1';
    all.push_back(tail);
    EventRecordFields opened = in;  opened.kind = '3'; opened.direction = "01"; opened.flag2 = '1';
    all.push_back(opened);
    EventRecordFields closed = opened;  closed.flag2 = '0';
    all.push_back(closed);
    EventRecordFields button = opened;  button.direction = "03";
    all.push_back(button);
    EventRecordFields powerOff = opened;  powerOff.direction = "00"; powerOff.flag1 = '4';
    all.push_back(powerOff);
    EventRecordFields powerOn = powerOff;  powerOn.flag1 = '8';
    all.push_back(powerOn);
    return all;
}

void ProcessSeeds(const fs::path& dir)
{
    const std::vector<EventRecordFields> kinds = EveryKind();
    const std::string fullBatch = DataFrame(Records(kinds));
    std::vector<EventRecordFields> three(kinds.begin() + 3, kinds.begin() + 6);
    const std::string shortBatch = DataFrame(Records(three));
    const std::string empty = DataFrame("");

    // A whole polling round from the clock set on: status, a full batch, a
    // short one, the closing acknowledgements.
    const std::vector<std::string> round = {Ack(), DataFrame("x3"), fullBatch, Ack(), shortBatch, Ack(), Ack()};
    Write(dir, "round", ProcessInput(kTimeSet, kFullBatch | kNewRounds | kTwoDoors, 0, round));
    Write(dir, "round-cut-7", ProcessInput(kTimeSet, kNewRounds | kTwoDoors, 0, Cut(round, 7)));
    Write(dir, "round-cut-1", ProcessInput(kTimeSet, kNewRounds, 0, Cut({Ack(), DataFrame("x0"), shortBatch}, 1)));
    // Door states in the status reply, after an alarm on both doors.
    for (const char* status : {"x0", "x1", "x2", "x3"})
        Write(dir, std::string("status-") + status, ProcessInput(kStatusRead, kTwoDoors, 0x36 | 0xC0, {DataFrame(status), empty}));
    // Event replies straight away, with noise, a bad checksum, an empty batch.
    Write(dir, "events-every-kind", ProcessInput(kEventRead, kTwoDoors, 0, {fullBatch, Ack(), empty}));
    Write(dir, "events-noise", ProcessInput(kEventRead, 0, 0, {"\x13\x11zz" + shortBatch}));
    std::string corrupt = shortBatch;
    corrupt[5] = static_cast<char>(corrupt[5] ^ 1);
    Write(dir, "events-bad-sum", ProcessInput(kEventRead, 0, 0, {corrupt, shortBatch}));
    Write(dir, "events-empty", ProcessInput(kEventRead, 0, 0, {empty}));
    Write(dir, "events-extra-bytes", ProcessInput(kEventRead, 0, 0, {DataFrame(Records(three) + "12345")}));
    Write(dir, "ack-after-full", ProcessInput(kEventAck, kFullBatch, 0, {Ack(), shortBatch, Ack(), Ack()}));
    // Control sequences: configuration, door, card add and delete, refusals.
    std::vector<std::string> acks(18, Ack());
    Write(dir, "configure", ProcessInput(kCfg1, kTwoDoors, 0, acks));
    Write(dir, "door", ProcessInput(kDoorOpen, 0, 0, {Ack(), Ack()}));
    Write(dir, "card-add-door0", ProcessInput(kCardAdd1, 0, 0, std::vector<std::string>(7, Ack())));
    Write(dir, "card-add-door2", ProcessInput(kCardAdd1, 0x04, 0, std::vector<std::string>(7, Ack())));
    Write(dir, "card-delete", ProcessInput(kCardDel1, 0, 0, std::vector<std::string>(5, Ack())));
    Write(dir, "configure-refused", ProcessInput(kCfg1, 0, 0, {Ack(), Ack(), "n/", Ack()}));
    Write(dir, "ack-split", ProcessInput(kCfg1, 0, 0, {"h", "/", "h0", "0/"}));
    // The store refuses the third event: the batch is withheld. The next
    // round reads the same batch again, its first two records already
    // stored, and the store takes them.
    Write(dir, "events-refused", ProcessInput(kEventRead, kTwoDoors, 0, {fullBatch, empty}, kRefuse | 0x04));
    Write(dir, "round-refused-then-stored",
          ProcessInput(kTimeSet, kNewRounds | kTwoDoors, 0,
                       {Ack(), DataFrame("x3"), fullBatch, Ack(), DataFrame("x3"), fullBatch, Ack(), empty},
                       kRefuse | 0x04));
    Write(dir, "status-alarm-end-refused", ProcessInput(kStatusRead, kTwoDoors, 0x36, {DataFrame("x3"), empty}, kRefuse | 0x01));
    // More than the receive buffer holds without an end.
    std::vector<std::string> flood(20, "A" + std::string(250, '7'));
    Write(dir, "overflow", ProcessInput(kEventRead, 0, 0, flood));
}

std::string IoInput(int codeIndex, int drive, int settings, const std::string& argument)
{
    std::string out;
    out += static_cast<char>(codeIndex);
    out += static_cast<char>(drive);
    out += static_cast<char>(settings);
    return out + argument;
}

void IoSeeds(const fs::path& dir)
{
    const int room4 = 0x80;
    Write(dir, "door-2", IoInput(0, 2 | room4, 3, R"({"signal_id": "141600010010", "SetValue": "2"})"));
    Write(dir, "door-65537", IoInput(0, 2 | room4, 0, R"({"signal_id": "141600010010", "SetValue": 65537})"));
    Write(dir, "door-refused", IoInput(0, 1 | 0x20 | room4, 0, R"({"signal_id": "141600010010", "SetValue": "1"})"));
    Write(dir, "configure", IoInput(1, 17 | room4, 1, ""));
    Write(dir, "card-add", IoInput(2, 6 | room4, 0,
        R"({"A1B2C3D4": {"CardNumber": "12", "EndDate": "2030-12-31", "DoorNo": "0"}})"));
    Write(dir, "card-add-door2", IoInput(2, 5 | room4, 0,
        R"({"A1B2C3D4": {"CardNumber": 9999, "EndDate": "2030-12-31", "DoorNo": 2}})"));
    Write(dir, "card-add-two", IoInput(2, 6 | room4, 0,
        R"({"ZZZZZZZZ": {"CardNumber": "1"}, "00000001": {"CardNumber": "2", "EndDate": "2031-01-01", "DoorNo": "1"}})"));
    Write(dir, "card-add-short-code", IoInput(2, 0, 0, R"({"1234567": {"CardNumber": "12"}})"));
    Write(dir, "card-delete", IoInput(3, 5 | room4, 0, R"({"x": {"CardNumber": "345", "DoorNo": "1"}})"));
    Write(dir, "card-delete-door0", IoInput(3, 5 | room4, 0, R"({"x": {"CardNumber": "345", "DoorNo": "0"}})"));
    Write(dir, "query-room2", IoInput(4, 0x40, 0, ""));
    Write(dir, "not-json", IoInput(2, 0, 0, "{\"x\": "));
}

void SettingSeeds(const fs::path& dir)
{
    Write(dir, "minimal", R"({"address": 1})");
    Write(dir, "two-doors", R"({"data_id": 41, "address": 3, "baud": 9600,
  "appSetting": {"doors": "2", "card_type": "1", "door1_delay": "5", "door2_delay": 3, "b_mode": "0"}})");
    Write(dir, "thresholds", R"({"address": 2, "appSetting": {"doors": 1},
  "thresholdSetting": {"door1": {"SignalName": "door1", "NMAlarmID": "7", "ID": "1", "SignalNumber": "1",
                                 "Threshold": 0.5, "Level": 2},
                       "door2": {"SignalName": "door2", "NMAlarmID": 8, "ID": 2, "SignalNumber": 2}}})");
    Write(dir, "nulls", R"({"appSetting": {"doors": null, "card_type": null}, "thresholdSetting": null})");
    Write(dir, "wrong-types", R"({"appSetting": [1, 2], "thresholdSetting": "x", "address": "7"})");
}

}  // namespace

// fuzz_request: the kind's index, then a request as a collector sends it.
void RequestSeeds(const fs::path& dir)
{
    const std::vector<std::pair<char, std::string>> seeds = {
        {0, R"({"transaction":"op-1","device":"front","door":2,"sent":"2026-12-10T11:40:02Z"})"},
        {1, R"({"transaction":"cfg-1","device":"front"})"},
        {2, R"({"transaction":"card-1","device":"front","code":"AB12CD34","slot":17,"end":"2030-12-31","door":0})"},
        {3, R"({"transaction":"card-2","device":"back","slot":17,"door":1})"},
        {4, R"({"transaction":"gap-1","device":"front","from":1,"to":300})"},
        {5, R"({"transaction":"x","device":"front"})"},
        {0, "{\"transaction\":\"\u00e9\",\"device\":\"front\",\"door\":1.5}"},
    };
    int n = 0;
    for (const auto& [kind, payload] : seeds)
        Write(dir, "request-" + std::to_string(n++), std::string(1, kind) + payload);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: velta36_fuzz_seeds <output-dir>\n";
        return 2;
    }
    const fs::path root(argv[1]);
    try {
        ProcessSeeds(root / "fuzz_process");
        IoSeeds(root / "fuzz_device_io_control");
        SettingSeeds(root / "fuzz_init_setting");
        RequestSeeds(root / "fuzz_request");
    } catch (const std::exception& e) {
        std::cerr << "velta36_fuzz_seeds: " << e.what() << "\n";
        return 1;
    }
    std::cout << "velta36_fuzz_seeds: " << g_written << " seeds in " << root.string() << "\n";
    return 0;
}
