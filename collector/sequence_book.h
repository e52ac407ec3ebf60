// What the collector holds of one device's sequence: the highest seq seen,
// and the gaps below it (ranges not held), each with when it was first seen
// and what has been asked for it. Pure bookkeeping; the store loads a book
// from PostgreSQL under the device's row lock, applies a batch and writes
// it back in the same transaction.
//
// The site numbers every stored row of a device from 1 and never reuses a
// number, also across a rebuilt table, a replaced file or a restart, so the
// epoch plays no part here: only seq does.
#ifndef VELTA36_COLLECTOR_SEQUENCE_BOOK_H
#define VELTA36_COLLECTOR_SEQUENCE_BOOK_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace velta36col {

using Clock = std::chrono::system_clock;

// Where a device the collector has never seen begins.
enum class Backfill {
    FromOne,        // everything from seq 1: the events before the first one seen are asked for
    FromFirstSeen,  // from the first seq seen (or after the last_seq of the first state)
};

struct Gap {
    int64_t from = 0;                          // inclusive
    int64_t to = 0;                            // inclusive
    Clock::time_point firstSeen;
    std::optional<Clock::time_point> askedAt;  // last replay request covering it
    int64_t askedTo = 0;                       // the last seq that request covered
    int32_t asks = 0;                          // requests for the part up to askedTo
    bool unavailable = false;                  // the site answered that it holds none of it
};

struct GapTiming {
    // A gap is asked for once it has stayed open this long: events of one
    // device may arrive out of order (redelivery, several collectors), and
    // most gaps close by themselves within it.
    std::chrono::milliseconds grace{5000};
    // An unanswered request is repeated after this, doubling to the maximum.
    std::chrono::milliseconds retryFirst{30000};
    std::chrono::milliseconds retryMax{600000};
    // Seqs in one replay request, and requests per device per check.
    int64_t maxPerRequest = 10000;
    int32_t maxRequestsPerDevice = 4;
};

struct SeqRange {
    int64_t from = 0;
    int64_t to = 0;
    bool operator==(const SeqRange& other) const { return from == other.from && to == other.to; }
};

class SequenceBook {
public:
    SequenceBook() = default;
    // A book as stored: start is empty for a device never seen.
    SequenceBook(std::optional<int64_t> start, int64_t highest, std::vector<Gap> gaps);

    // An event with this seq is held (committed with this batch).
    void held(int64_t seq, Clock::time_point now, Backfill backfill);
    // The site says it has stored every seq up to lastSeq (its state).
    void exists(int64_t lastSeq, Clock::time_point now, Backfill backfill);
    // The site answered a replay request: it holds none of [from, to].
    void unavailable(int64_t from, int64_t to);

    // The replay requests due now, marked as asked. Ranges of one request
    // may span held seqs between gaps; those come again as duplicates.
    std::vector<SeqRange> takeDue(Clock::time_point now, const GapTiming& timing);
    // When the next request falls due (none when nothing is open).
    std::optional<Clock::time_point> nextDue(const GapTiming& timing) const;

    const std::optional<int64_t>& start() const { return start_; }
    int64_t highest() const { return highest_; }
    // The highest seq with nothing missing below it (gaps the site could
    // not fill do not hold it back).
    int64_t contiguous() const;
    const std::vector<Gap>& gaps() const { return gaps_; }
    bool changed() const { return changed_; }

private:
    void begin(int64_t firstSeq, Clock::time_point now, Backfill backfill, bool firstIsHeld);
    void open(int64_t from, int64_t to, Clock::time_point now);
    std::optional<Clock::time_point> dueAt(const Gap& gap, const GapTiming& timing) const;

    std::optional<int64_t> start_;
    int64_t highest_ = 0;
    std::vector<Gap> gaps_;   // sorted by from, disjoint, all below or at highest_
    bool changed_ = false;
};

}  // namespace velta36col

#endif
