// The summary's two counts from a line's frames: a batch sent again after
// a "v0" that got no acknowledgement is stored again; a batch held back
// (no "v0") is not; a door-opened record without a row was left out.
#include <gtest/gtest.h>

#include "line_tally.h"

namespace {

// An event reply as the controller frames it: 'A', the records, the sum of
// every byte before it as four nibbles + 0x60, '/'.
std::string Reply(const std::vector<std::string>& records)
{
    std::string frame = "A";
    for (const std::string& record : records)
        frame += record;
    unsigned sum = 0;
    for (char c : frame)
        sum += static_cast<unsigned char>(c);
    for (int shift = 12; shift >= 0; shift -= 4)
        frame += static_cast<char>(0x60 + ((sum >> shift) & 0xF));
    return frame + "/";
}

TEST(LineTally, CountsRepeatsAfterALostV0AndOpeningsLeftOut)
{
    const std::string door1Opened = "3001000001053810012268\n";
    const std::string door2Opened = "3002000001053910012268\n";
    const std::string swipe = "210;701400122510012268\n";
    velta36cli::LineTally tally;
    auto line = [&tally](bool sent, const std::string& bytes) {
        using Direction = refhost::TraceRecord::Direction;
        tally.onTraffic({sent ? Direction::Sent : Direction::Received, std::chrono::system_clock::now(), 0, "front",
                         std::vector<unsigned char>(bytes.begin(), bytes.end())});
    };
    velta36site::DeviceIdentity front;
    front.name = "front";
    auto stored = [&](int64_t channel, int64_t type) {
        velta36site::StoredEvent row;
        row.readerChannel = channel;
        row.eventType = type;
        tally.onEventStored(front, row);
    };
    const std::string v0 = "@0v000:6/";

    // The opening of door 1 gives no row (the alarm rule); acknowledged.
    line(true, "@0q0;/");
    line(false, Reply({door1Opened, swipe}).substr(0, 20));
    line(false, Reply({door1Opened, swipe}).substr(20));
    stored(2, 2);
    line(true, v0);
    line(false, "h0/");
    // Door 2 forced; its "v0" gets no answer, so the batch comes again and
    // is stored again.
    line(true, "@0q0;/");
    line(false, Reply({door2Opened, swipe}));
    stored(2, 14);
    stored(2, 2);
    line(true, v0);
    line(true, "@0q0;/");
    line(false, "\x91" + Reply({door2Opened, swipe, swipe}));
    stored(2, 14);
    stored(2, 2);
    stored(2, 2);
    line(true, v0);
    line(false, "h0/");
    // Held back (no "v0": the database was down), then sent again and
    // stored once; a reply with a bad checksum is no batch.
    line(true, "@0q0;/");
    line(false, Reply({door1Opened}));
    line(true, "@0q0;/");
    std::string bad = Reply({door2Opened});
    bad[bad.size() - 2] ^= 1;
    line(false, bad);
    line(true, "@0q0;/");
    line(false, Reply({door1Opened}));
    stored(1, 5);
    line(true, v0);
    line(false, "h0/");

    const velta36cli::LineTally::Counts counts = tally.counts("front");
    EXPECT_EQ(counts.storedAgain, 2u);
    EXPECT_EQ(counts.openingsLeftOut, 1u);
    EXPECT_EQ(tally.counts("yard").storedAgain, 0u);
}

}  // namespace
