// Line captures as a technician opens them: the tool captures a run and
// control commands against a simulated controller with line faults on,
// tshark reads the files with our dissector, and what it decodes is
// checked against the frames and the stored events themselves. The capture
// `simulate` takes on the controllers' side holds the same frames, the
// other way round.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "line_capture.h"
#include "tool_support.h"
#include "velta36sim/frames.h"

namespace {

using e2e::RunTool;
using e2e::Tool;
using e2e::ToolResult;

bool HaveTshark()
{
    return std::system("command -v tshark >/dev/null 2>&1") == 0;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    if (text.empty())
        return parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (text.back() == separator)
        parts.push_back("");
    return parts;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// One packet as the dissector shows it; fields that occur once per frame
// or per record are lists.
struct Packet {
    int direction = 0;   // epb_flags: 1 inbound, 2 outbound
    std::string comment;
    std::vector<std::string> kinds, directions, frames, noise, firstPackets, verdicts, expected;
    std::vector<std::string> recordKinds, recordChannels, recordCards, recordTimes, recordTails;
};

const char* const kFields[] = {
    "frame.packet_flags_direction", "frame.comment", "velta36.kind", "velta36.direction", "velta36.frame",
    "velta36.noise", "velta36.first_packet", "velta36.checksum.status", "velta36.checksum.expected",
    "velta36.record.kind", "velta36.record.channel", "velta36.record.card", "velta36.record.time",
    "velta36.record.tail",
};

std::vector<Packet> Dissect(const std::string& capture)
{
    std::string command = "tshark -n -r " + e2e::Quote(capture) + " -X lua_script:" +
                          e2e::Quote(VELTA36_DISSECTOR_PATH) + " -T fields -E separator=/t -E aggregator='|'";
    for (const char* field : kFields)
        command += std::string(" -e ") + field;
    command += " >dissected.tsv 2>tshark.err";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("tshark failed: " + e2e::ReadFile("tshark.err"));
    std::vector<Packet> packets;
    std::istringstream lines(e2e::ReadFile("dissected.tsv"));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> columns = Split(line, '\t');
        columns.resize(std::size(kFields));
        Packet packet;
        packet.direction = columns[0].empty() ? 0 : std::stoi(columns[0], nullptr, 0);
        packet.comment = columns[1];
        std::vector<std::string>* lists[] = {
            &packet.kinds, &packet.directions, &packet.frames, &packet.noise, &packet.firstPackets,
            &packet.verdicts, &packet.expected, &packet.recordKinds, &packet.recordChannels, &packet.recordCards,
            &packet.recordTimes, &packet.recordTails};
        for (std::size_t i = 0; i < std::size(lists); ++i)
            *lists[i] = Split(columns[i + 2], '|');
        packets.push_back(packet);
    }
    return packets;
}

std::string TimeText(const velta36sim::CivilTime& t)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", static_cast<int>(t.year),
                  static_cast<int>(t.month), static_cast<int>(t.day), static_cast<int>(t.hour),
                  static_cast<int>(t.minute));
    return text;
}

bool IsReply(const std::string& kind)
{
    return kind == "acknowledgement" || kind == "refusal" || kind == "door status" || kind == "event reply";
}

TEST_F(Tool, CaptureOfAFaultyLineDecodesInTshark)
{
    if (!HaveTshark())
        GTEST_SKIP() << "tshark is not installed";
    e2e::ControllerSetup setup;
    setup.address = 3;
    setup.events = e2e::IndependentEvents(41, 25);
    setup.faults.splitReply = 0.5;
    setup.faults.noiseBeforeReply = 0.15;
    setup.faults.corruptChecksum = 0.25;
    setup.faults.refuseCommand = 0.15;
    setup.faultSeed = 5;
    e2e::SimLine sim({setup});
    std::ofstream("device.json") << "{\"port\": \"" + sim.path() + "\", \"name\": \"gate\", \"address\": 3, \"baud\": 115200,"
                                    " \"appSetting\": {\"doors\": 2}}";
    const std::vector<std::string> line = {"--config", "device.json"};
    auto withLine = [&line](std::vector<std::string> args) {
        args.insert(args.begin() + 1, line.begin(), line.end());
        return args;
    };
    // Control commands may be refused on this line; their frames are what counts.
    const ToolResult run = RunTool(withLine({"run", "--rounds", "4", "--capture", "run.pcapng"}));
    ASSERT_EQ(run.status, 0) << run.err;
    RunTool(withLine({"open-door", "--door", "1", "--capture", "door.pcapng"}));
    RunTool(withLine({"configure", "--capture", "configure.pcapng"}));
    RunTool(withLine({"add-card", "--code", "0000ABCD", "--slot", "12", "--end", "2030-12-31", "--door", "0",
                      "--capture", "card.pcapng"}));

    std::set<std::string> kinds;
    std::set<std::string> recordsSeen;
    int wrongChecksums = 0, noisyFrames = 0, reassembled = 0;
    for (const char* capture : {"run.pcapng", "door.pcapng", "configure.pcapng", "card.pcapng"}) {
        const std::vector<Packet> packets = Dissect(capture);
        ASSERT_FALSE(packets.empty()) << capture;
        for (const Packet& packet : packets) {
            EXPECT_EQ(packet.comment, "gate (address 3)") << capture;
            kinds.insert(packet.kinds.begin(), packet.kinds.end());
            noisyFrames += static_cast<int>(packet.noise.size());
            reassembled += static_cast<int>(packet.firstPackets.size());
            if (packet.kinds.size() != 1)
                continue;   // a part of a frame, or (rarely) two frames in one read
            const std::string& kind = packet.kinds[0];
            ASSERT_EQ(packet.frames.size(), 1u);
            // The host captures what it sends as outbound, what it reads as inbound.
            EXPECT_EQ(packet.direction, IsReply(kind) ? 1 : 2) << kind;
            EXPECT_EQ(packet.directions[0], IsReply(kind) ? "controller to host" : "host to controller");
            const std::string frame =
                FromHex(packet.frames[0]).substr(packet.noise.empty() ? 0 : packet.noise[0].size() / 2);
            if (kind == "door status" || kind == "event reply") {
                const bool valid = velta36sim::DataReplyValid(frame);
                ASSERT_EQ(packet.verdicts.size(), 1u);
                EXPECT_EQ(packet.verdicts[0], valid ? "right" : "wrong") << frame;
                EXPECT_EQ(packet.expected[0], velta36sim::Nibbles(velta36sim::Sum16(frame, 0, frame.size() - 5), '`'));
                wrongChecksums += valid ? 0 : 1;
            } else if (!IsReply(kind) && kind != "event read") {
                ASSERT_EQ(packet.verdicts.size(), 1u) << kind;
                EXPECT_EQ(packet.verdicts[0], "right") << frame;
                EXPECT_EQ(packet.expected[0], velta36sim::Nibbles(velta36sim::Sum16(frame, 2, frame.size() - 5), '0'));
            }
            if (kind != "event reply" || packet.verdicts[0] != "right")
                continue;
            // Each record decoded as the controller stored it.
            ASSERT_EQ(packet.recordKinds.size(), (frame.size() - 6) / 23);
            for (std::size_t k = 0; k < packet.recordKinds.size(); ++k) {
                const std::string bytes = frame.substr(1 + 23 * k, 23);
                const auto stored = std::find_if(setup.events.begin(), setup.events.end(),
                                                 [&bytes](const velta36sim::GeneratedEvent& event) {
                                                     return event.record.Encode() == bytes;
                                                 });
                ASSERT_NE(stored, setup.events.end()) << "record " << k << " was never stored: " << bytes;
                const velta36sim::EventRecord& record = stored->record;
                const bool door = record.kind == velta36sim::RecordKind::DoorOrController;
                char card[8];
                std::snprintf(card, sizeof(card), "%04u", static_cast<unsigned>(record.card));
                EXPECT_EQ(packet.recordKinds[k].substr(0, 1), std::string(1, static_cast<char>(record.kind)));
                EXPECT_EQ(packet.recordChannels[k], std::to_string(door ? record.channel : record.reader));
                EXPECT_EQ(packet.recordCards[k], door ? "0000" : card);
                EXPECT_EQ(packet.recordTimes[k], TimeText(record.time));
                EXPECT_EQ(packet.recordTails[k], "right");
                recordsSeen.insert(bytes);
            }
        }
    }
    for (const char* kind : {"clock set", "status request", "event read", "acknowledge batch", "end of read",
                             "open door", "configuration", "card", "acknowledgement", "refusal", "door status",
                             "event reply"})
        EXPECT_EQ(kinds.count(kind), 1u) << kind;
    EXPECT_GT(wrongChecksums, 0);
    EXPECT_GT(noisyFrames, 0);
    EXPECT_GT(reassembled, 0);
    // Every stored event crossed the line at least once in a reply with a
    // right checksum (4 rounds drain all 25).
    EXPECT_EQ(recordsSeen.size(), setup.events.size());
}

TEST_F(Tool, SimulateCapturesTheSameFramesFromTheControllersSide)
{
    if (!HaveTshark())
        GTEST_SKIP() << "tshark is not installed";
    const std::string simulate = e2e::Quote(VELTA36_TOOL_PATH) +
                                 " simulate --address 2 --events 15 --split 0.5 --seconds 4 --capture sim.pcapng"
                                 " >sim.out 2>&1 </dev/null &";
    ASSERT_EQ(std::system(simulate.c_str()), 0);
    auto waitFor = [](const std::string& text, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (e2e::ReadFile("sim.out").find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    };
    ASSERT_TRUE(waitFor("simulating", std::chrono::seconds(5))) << e2e::ReadFile("sim.out");
    const std::string path = e2e::ReadFile("sim.out").substr(0, e2e::ReadFile("sim.out").find('\n'));
    const ToolResult run = RunTool({"run", "--port", path, "--address", "2", "--baud", "115200", "--rounds", "1",
                                    "--capture", "run.pcapng"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(waitFor("frames heard", std::chrono::seconds(10))) << e2e::ReadFile("sim.out");

    // Whole frames in order, each with the direction it was captured in.
    auto frames = [](const std::vector<Packet>& packets) {
        std::vector<std::pair<int, std::string>> all;
        for (const Packet& packet : packets) {
            for (const std::string& frame : packet.frames)
                all.emplace_back(packet.direction, frame);
        }
        return all;
    };
    const std::vector<std::pair<int, std::string>> host = frames(Dissect("run.pcapng"));
    const std::vector<std::pair<int, std::string>> controller = frames(Dissect("sim.pcapng"));
    ASSERT_GT(host.size(), 8u);
    ASSERT_EQ(host.size(), controller.size());
    for (std::size_t i = 0; i < host.size(); ++i) {
        EXPECT_EQ(host[i].second, controller[i].second) << "frame " << i;
        // Outbound from the host is inbound at the controllers.
        EXPECT_EQ(host[i].first + controller[i].first, 3) << "frame " << i;
    }
}

// Chunks no simulated controller sends: a record whose flag byte is a '/'
// (not the end of the reply), noise on its own before an acknowledgement,
// and a reply cut between two reads.
TEST_F(Tool, DissectorFindsFrameEndsInCraftedChunks)
{
    if (!HaveTshark())
        GTEST_SKIP() << "tshark is not installed";
    std::string record = velta36sim::EventRecord::RefusedCard(1, true, 1234, 0, 0, {2024, 3, 5, 8, 1, 0}).Encode();
    record[9] = '/';
    const std::string reply = velta36sim::DataReply(record);
    const std::string status = velta36sim::DoorStatusReply('0', true, true);
    {
        velta36site::LineCapture capture("crafted.pcapng");
        capture.addInterface("/dev/ttyS0", "");
        const auto now = std::chrono::system_clock::now();
        auto put = [&](velta36site::CaptureDirection direction, const std::string& bytes) {
            capture.record(0, direction, now, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                           "");
        };
        put(velta36site::CaptureDirection::Outbound, velta36sim::EventReadFrame('0'));
        put(velta36site::CaptureDirection::Inbound, reply);
        put(velta36site::CaptureDirection::Outbound, velta36sim::CommandFrame('0', "v0"));
        put(velta36site::CaptureDirection::Inbound, "xy");
        put(velta36site::CaptureDirection::Inbound, "h0/");
        put(velta36site::CaptureDirection::Outbound, velta36sim::CommandFrame('0', "{"));
        put(velta36site::CaptureDirection::Inbound, status.substr(0, 3));
        put(velta36site::CaptureDirection::Inbound, status.substr(3));
    }
    const std::vector<Packet> packets = Dissect("crafted.pcapng");
    ASSERT_EQ(packets.size(), 8u);
    EXPECT_EQ(packets[1].kinds, std::vector<std::string>{"event reply"});
    EXPECT_EQ(packets[1].verdicts, std::vector<std::string>{"right"});
    EXPECT_EQ(packets[1].recordCards, std::vector<std::string>{"1234"});
    EXPECT_EQ(packets[1].recordTimes, std::vector<std::string>{"2024-03-05 08:01"});
    EXPECT_TRUE(packets[3].kinds.empty());   // noise alone: part of a frame
    EXPECT_EQ(packets[4].kinds, std::vector<std::string>{"acknowledgement"});
    EXPECT_EQ(packets[4].noise, std::vector<std::string>{"7879"});
    EXPECT_EQ(packets[4].firstPackets, std::vector<std::string>{"4"});
    EXPECT_TRUE(packets[6].kinds.empty());
    EXPECT_EQ(packets[7].kinds, std::vector<std::string>{"door status"});
    EXPECT_EQ(packets[7].verdicts, std::vector<std::string>{"right"});
    EXPECT_EQ(packets[7].firstPackets, std::vector<std::string>{"7"});
}

}  // namespace
