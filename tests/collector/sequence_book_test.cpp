// The gap tracker's bookkeeping for one device, without a database: gaps
// opened, split and closed by arriving seqs; requests due after the grace,
// repeated with back-off, cut at 10,000; ranges the site does not hold.
#include <gtest/gtest.h>

#include "sequence_book.h"

namespace velta36col {

// How gtest shows a range in a failure.
void PrintTo(const SeqRange& range, std::ostream* out)
{
    *out << range.from << ".." << range.to;
}

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const Clock::time_point t0 = Clock::time_point(seconds(1700000000));

std::vector<SeqRange> Ranges(const SequenceBook& book)
{
    std::vector<SeqRange> ranges;
    for (const Gap& gap : book.gaps())
        ranges.push_back(SeqRange{gap.from, gap.to});
    return ranges;
}

TEST(SequenceBook, GapsOpenSplitAndCloseAsSeqsArrive)
{
    SequenceBook book;
    const struct {
        int64_t seq;
        std::vector<SeqRange> gaps;
        int64_t contiguous;
    } steps[] = {
        {1, {}, 1},
        {2, {}, 2},
        {2, {}, 2},                      // a duplicate changes nothing
        {9, {{3, 8}}, 2},                // a jump
        {5, {{3, 4}, {6, 8}}, 2},        // fills the middle: split
        {3, {{4, 4}, {6, 8}}, 3},
        {8, {{4, 4}, {6, 7}}, 3},
        {4, {{6, 7}}, 5},
        {12, {{6, 7}, {10, 11}}, 5},
        {6, {{7, 7}, {10, 11}}, 6},
        {7, {{10, 11}}, 9},
        {11, {{10, 10}}, 9},
        {10, {}, 12},
    };
    for (const auto& step : steps) {
        book.held(step.seq, t0, Backfill::FromOne);
        EXPECT_EQ(Ranges(book), step.gaps) << "after seq " << step.seq;
        EXPECT_EQ(book.contiguous(), step.contiguous) << "after seq " << step.seq;
    }
    EXPECT_EQ(book.highest(), 12);
}

TEST(SequenceBook, WhereANewDeviceBegins)
{
    SequenceBook fromOne;
    fromOne.held(40, t0, Backfill::FromOne);
    EXPECT_EQ(Ranges(fromOne), (std::vector<SeqRange>{{1, 39}}));
    EXPECT_EQ(fromOne.start(), std::optional<int64_t>(1));

    SequenceBook firstSeen;
    firstSeen.held(40, t0, Backfill::FromFirstSeen);
    firstSeen.held(38, t0, Backfill::FromFirstSeen);   // before the start: not wanted
    EXPECT_TRUE(firstSeen.gaps().empty());
    EXPECT_EQ(firstSeen.contiguous(), 40);

    // A state first: its last_seq exists at the site already.
    SequenceBook stateFirst;
    stateFirst.exists(7, t0, Backfill::FromOne);
    EXPECT_EQ(Ranges(stateFirst), (std::vector<SeqRange>{{1, 7}}));
    SequenceBook stateFirstSeen;
    stateFirstSeen.exists(7, t0, Backfill::FromFirstSeen);
    stateFirstSeen.held(8, t0, Backfill::FromFirstSeen);
    EXPECT_TRUE(stateFirstSeen.gaps().empty());
    EXPECT_EQ(stateFirstSeen.start(), std::optional<int64_t>(8));

    // A later state beyond what is held opens the gap up to its last_seq;
    // one behind it (late, or crossed with the events) changes nothing.
    SequenceBook book;
    book.held(1, t0, Backfill::FromOne);
    book.exists(4, t0, Backfill::FromOne);
    book.exists(3, t0, Backfill::FromOne);
    EXPECT_EQ(Ranges(book), (std::vector<SeqRange>{{2, 4}}));
    book.held(5, t0, Backfill::FromOne);
    EXPECT_EQ(Ranges(book), (std::vector<SeqRange>{{2, 4}}));
}

TEST(SequenceBook, RequestsAfterTheGraceThenWithBackOff)
{
    GapTiming timing;   // 5 s grace, 30 s doubling to 600 s
    SequenceBook book;
    book.held(1, t0, Backfill::FromOne);
    book.held(5, t0, Backfill::FromOne);
    EXPECT_EQ(book.nextDue(timing), std::optional<Clock::time_point>(t0 + seconds(5)));
    EXPECT_TRUE(book.takeDue(t0 + milliseconds(4999), timing).empty());
    EXPECT_EQ(book.takeDue(t0 + seconds(5), timing), (std::vector<SeqRange>{{2, 4}}));
    EXPECT_TRUE(book.takeDue(t0 + seconds(6), timing).empty());

    // Unanswered: again after 30, 60, 120 ... s, never more than 600 s apart.
    Clock::time_point asked = t0 + seconds(5);
    for (int64_t wait : {30, 60, 120, 240, 480, 600, 600}) {
        EXPECT_TRUE(book.takeDue(asked + seconds(wait) - milliseconds(1), timing).empty()) << wait;
        asked += seconds(wait);
        EXPECT_EQ(book.takeDue(asked, timing), (std::vector<SeqRange>{{2, 4}})) << wait;
    }
    // Partly filled: the rest stays asked for, on the same schedule.
    book.held(2, asked, Backfill::FromOne);
    EXPECT_TRUE(book.takeDue(asked + seconds(599), timing).empty());
    EXPECT_EQ(book.takeDue(asked + seconds(600), timing), (std::vector<SeqRange>{{3, 4}}));
}

TEST(SequenceBook, LongGapsAskedInChunksAndNearbyGapsJoined)
{
    GapTiming timing;
    SequenceBook book;
    book.held(1, t0, Backfill::FromOne);
    book.held(25002, t0, Backfill::FromOne);             // 2..25001 missing
    const Clock::time_point due = t0 + seconds(5);
    EXPECT_EQ(book.takeDue(due, timing), (std::vector<SeqRange>{{2, 10001}}));
    // Once the chunk is in, the next one is due at once.
    for (int64_t seq = 2; seq <= 10001; ++seq)
        book.held(seq, due, Backfill::FromOne);
    EXPECT_EQ(book.takeDue(due + seconds(1), timing), (std::vector<SeqRange>{{10002, 20001}}));

    // Scattered holes: one request spans them while it stays within 10,000.
    SequenceBook holes;
    for (int64_t seq = 1; seq <= 30000; seq += 2)
        holes.held(seq, t0, Backfill::FromOne);
    EXPECT_EQ(holes.gaps().size(), 14999u);
    const std::vector<SeqRange> requests = holes.takeDue(due, timing);
    EXPECT_EQ(requests, (std::vector<SeqRange>{{2, 10000}, {10002, 20000}, {20002, 29998}}));
}

TEST(SequenceBook, RangesTheSiteDoesNotHoldAreNotAskedAgain)
{
    GapTiming timing;
    SequenceBook book;
    book.held(1, t0, Backfill::FromOne);
    book.held(20, t0, Backfill::FromOne);
    book.unavailable(2, 9);
    EXPECT_EQ(book.contiguous(), 9);   // the lost part no longer holds it back, the open one does
    EXPECT_EQ(book.takeDue(t0 + seconds(5), timing), (std::vector<SeqRange>{{10, 19}}));
    book.unavailable(10, 19);
    EXPECT_TRUE(book.takeDue(t0 + seconds(3600), timing).empty());
    EXPECT_FALSE(book.nextDue(timing));
    EXPECT_EQ(book.contiguous(), 20);
    // A lost event that turns up after all is simply held.
    book.held(5, t0, Backfill::FromOne);
    EXPECT_EQ(Ranges(book), (std::vector<SeqRange>{{2, 4}, {6, 9}, {10, 19}}));
    EXPECT_EQ(book.contiguous(), 20);
}

}  // namespace
}  // namespace velta36col
