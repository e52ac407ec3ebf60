// Reply reassembly: chunk boundaries, line noise, checksums, the size of the
// receive buffer and empty chunks, on both the acknowledgement and the data
// path.
#include <gtest/gtest.h>

#include "protocol_frames.h"
#include "protocol_rig.h"
#include "protocol_states.h"

namespace {

using Calls = std::vector<std::string>;

class Reassembly : public ::testing::Test {
protected:
    void expectNothingHappened(int state)
    {
        EXPECT_TRUE(rig.calls().empty());
        EXPECT_EQ(rig.device->protocolState, state);
    }

    ProtocolRig rig;
};

TEST_F(Reassembly, split_ack_advances_once)
{
    rig.device->protocolState = PS_TIME_SET;
    EXPECT_EQ(rig.feed("h0"), 1);
    expectNothingHappened(PS_TIME_SET);
    EXPECT_EQ(rig.feed("1/"), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0{007;/"}));
    EXPECT_EQ(rig.device->protocolState, PS_STATUS_READ);
    EXPECT_EQ(rig.device->rxLength, 0);
}

TEST_F(Reassembly, noise_before_data_frame_is_skipped)
{
    rig.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(rig.feed(std::string("\0\x13zz/", 5) + frames::DataFrame("01")), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0q0;/"}));
    EXPECT_EQ(rig.device->protocolState, PS_EVENT_READ);
}

TEST_F(Reassembly, chunk_without_start_byte_is_dropped)
{
    rig.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(rig.feed("h01/"), 1);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_STATUS_READ);
    // The next frame starts clean.
    EXPECT_EQ(rig.feed(frames::DataFrame("01")), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0q0;/"}));
}

// Noise before the 'h', or a data frame where an acknowledgement is due, is
// a refusal. Only a control sequence reports it: a refused polling frame
// leaves the outcome of the last command alone.
TEST_F(Reassembly, refusals_stop_the_chain_and_only_control_sequences_report_them)
{
    struct Row {
        int state;
        std::string reply;
        int controlResult;   // afterwards, from 1
    };
    const Row rows[] = {
        {PS_EVENT_ACK, frames::DataFrame("01"), 1}, {PS_EVENT_ACK_END, "\rh/", 1},
        {14, "N/", 1},                              {20, "N/", 1},
        {PS_DOOR_OPEN, "\rh/", -1},                {PS_CFG_1, "N/", -1},
        {PS_CFG_2, "N/", -1},                       {PS_CARD_DEL_4, frames::DataFrame("01"), -1},
    };
    for (const Row& row : rows) {
        rig.clear();
        rig.device->protocolState = row.state;
        rig.device->controlResult = 1;
        EXPECT_EQ(rig.feed(row.reply), 1) << row.state;
        EXPECT_EQ(rig.device->controlResult, row.controlResult) << row.state;
        EXPECT_EQ(rig.device->rxLength, 0) << row.state;
        expectNothingHappened(row.state);
    }
    // The clock command refused: not set, and the round goes on.
    rig.clear();
    rig.device->protocolState = PS_TIME_SET;
    rig.device->controlResult = 1;
    EXPECT_EQ(rig.feed("\rh/"), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0{007;/"}));
    EXPECT_EQ(rig.device->protocolState, PS_STATUS_READ);
    EXPECT_EQ(rig.device->clockSet, 0);
    EXPECT_EQ(rig.device->controlResult, 1);
}

TEST_F(Reassembly, slash_inside_a_chunk_does_not_end_the_frame)
{
    rig.device->protocolState = PS_STATUS_READ;
    const std::string frame = frames::DataFrame("01");
    EXPECT_EQ(rig.feed(frame + "x"), 1);
    EXPECT_EQ(rig.device->rxLength, static_cast<int>(frame.size()) + 1);
    expectNothingHappened(PS_STATUS_READ);
    // The bytes are judged together once a chunk ends with '/'.
    EXPECT_EQ(rig.feed("/"), 0);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_STATUS_READ);
}

TEST_F(Reassembly, checksum_off_by_one_is_discarded)
{
    rig.device->protocolState = PS_EVENT_READ;
    std::string reply = frames::EventReply(frames::Swipes(1));
    reply[reply.size() - 2] = static_cast<char>(reply[reply.size() - 2] + 1);
    EXPECT_EQ(rig.feed(reply), 0);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_EVENT_READ);
    EXPECT_TRUE(rig.rows().empty());
}

TEST_F(Reassembly, checksum_in_command_digits_is_discarded)
{
    // The reply checksum runs from '`'; the same sum written from '0' fails.
    rig.device->protocolState = PS_STATUS_READ;
    rig.device->record.door1Open = 1;
    EXPECT_EQ(rig.feed("A01" "00:2" "/"), 0);
    EXPECT_EQ(rig.device->record.door1Open, 1);
    expectNothingHappened(PS_STATUS_READ);
    // The same payload with the right characters is taken.
    EXPECT_EQ(rig.feed("A01" "``j" "b" "/"), 1);
    EXPECT_EQ(rig.device->record.door1Open, 0);
}

TEST_F(Reassembly, frame_shorter_than_six_bytes_fails)
{
    rig.device->protocolState = PS_EVENT_READ;
    EXPECT_EQ(rig.feed("A``d/"), 0);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_EVENT_READ);
}

TEST_F(Reassembly, valid_frame_in_an_unhandled_state_stays_buffered)
{
    rig.device->protocolState = 0;
    const std::string frame = frames::DataFrame("01");
    EXPECT_EQ(rig.feed(frame), 1);
    EXPECT_EQ(rig.device->rxLength, static_cast<int>(frame.size()));
    expectNothingHappened(0);
    // The status request goes out; its reply is appended to the stale frame
    // and the two fail the checksum together.
    rig.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(rig.feed(frame), 0);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_STATUS_READ);
}

TEST_F(Reassembly, buffer_of_exactly_4096_bytes_is_accepted_and_one_more_resets)
{
    rig.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(rig.feed("A" + std::string(3999, '0')), 1);
    EXPECT_EQ(rig.feed(std::string(96, '1')), 1);
    EXPECT_EQ(rig.device->rxLength, 4096);
    EXPECT_EQ(rig.device->rxBuffer[4095], '1');
    expectNothingHappened(PS_STATUS_READ);

    EXPECT_EQ(rig.feed("/"), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
    EXPECT_EQ(rig.device->rxLength, 0);
    EXPECT_EQ(rig.device->protocolState, PS_STATUS_READ);
}

TEST_F(Reassembly, overflowing_chunk_is_not_stored)
{
    rig.device->protocolState = PS_CFG_1;
    EXPECT_EQ(rig.feed("h" + std::string(3000, '.')), 1);
    const std::string chunk(1096, '/');
    EXPECT_EQ(rig.feed(chunk), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
    EXPECT_EQ(rig.device->protocolState, PS_CFG_1);
    // Nothing of the overflowing chunk reached the buffer.
    EXPECT_EQ(rig.device->rxBuffer[3001], '\0');

    // A fill count below zero cannot index the buffer either.
    rig.clear();
    rig.device->rxLength = -3;
    EXPECT_EQ(rig.feed(frames::Ack()), 0);
    EXPECT_EQ(rig.calls(), (Calls{"Reset"}));
}

TEST_F(Reassembly, empty_chunks_change_nothing_anywhere)
{
    // Acknowledgement path, nothing buffered: nothing before the buffer is
    // looked at, no refusal is recorded.
    // The byte in front of the receive buffer is made a '/', so a look at
    // "the last byte held" of an empty buffer would find a frame end there.
    rig.device->deviceAddress = '/';
    rig.device->protocolState = PS_EVENT_ACK_END;
    rig.device->controlResult = 1;
    EXPECT_EQ(rig.feedEmpty(), 1);
    EXPECT_EQ(rig.device->controlResult, 1);
    EXPECT_EQ(rig.device->rxLength, 0);
    expectNothingHappened(PS_EVENT_ACK_END);

    // Acknowledgement path, half an acknowledgement buffered.
    rig.device->protocolState = PS_TIME_SET;
    EXPECT_EQ(rig.feed("h"), 1);
    EXPECT_EQ(rig.feedEmpty(), 1);
    EXPECT_EQ(rig.device->rxLength, 1);
    EXPECT_EQ(rig.feed("/"), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0{007;/"}));
    rig.clear();

    // Data path, nothing buffered and half a frame buffered.
    EXPECT_EQ(rig.feedEmpty(), 1);
    const std::string frame = frames::DataFrame("01");
    EXPECT_EQ(rig.feed(frame.substr(0, 3)), 1);
    EXPECT_EQ(rig.feedEmpty(), 1);
    EXPECT_EQ(rig.device->rxLength, 3);
    EXPECT_EQ(rig.feed(frame.substr(3)), 1);
    EXPECT_EQ(rig.calls(), (Calls{"Send @0q0;/"}));
    rig.clear();

    // A valid frame left in an unhandled state is not re-judged by an empty
    // chunk after the state changed.
    rig.device->protocolState = 0;
    EXPECT_EQ(rig.feed(frame), 1);
    rig.device->protocolState = PS_STATUS_READ;
    EXPECT_EQ(rig.feedEmpty(), 1);
    expectNothingHappened(PS_STATUS_READ);
}

TEST_F(Reassembly, acknowledgements_in_the_unused_states_do_nothing)
{
    for (int state : {14, 20}) {
        rig.device->protocolState = state;
        rig.device->controlResult = -1;
        EXPECT_EQ(rig.feed(frames::Ack()), 1);
        EXPECT_EQ(rig.device->controlResult, -1);
        EXPECT_EQ(rig.device->rxLength, 0);
        expectNothingHappened(state);
    }
}

}  // namespace
