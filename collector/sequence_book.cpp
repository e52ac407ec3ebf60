#include "sequence_book.h"

#include <algorithm>

namespace velta36col {

SequenceBook::SequenceBook(std::optional<int64_t> start, int64_t highest, std::vector<Gap> gaps)
    : start_(start), highest_(highest), gaps_(std::move(gaps))
{
    std::sort(gaps_.begin(), gaps_.end(), [](const Gap& a, const Gap& b) { return a.from < b.from; });
}

void SequenceBook::begin(int64_t firstSeq, Clock::time_point now, Backfill backfill, bool firstIsHeld)
{
    changed_ = true;
    highest_ = firstSeq;
    if (backfill == Backfill::FromFirstSeen) {
        // Nothing before is wanted: a state's last_seq has been stored at
        // the site already, so the book begins after it.
        start_ = firstIsHeld ? firstSeq : firstSeq + 1;
        return;
    }
    start_ = 1;
    const int64_t missingTo = firstIsHeld ? firstSeq - 1 : firstSeq;
    if (missingTo >= 1)
        open(1, missingTo, now);
}

void SequenceBook::open(int64_t from, int64_t to, Clock::time_point now)
{
    Gap gap;
    gap.from = from;
    gap.to = to;
    gap.firstSeen = now;
    gaps_.push_back(gap);
    changed_ = true;
}

void SequenceBook::held(int64_t seq, Clock::time_point now, Backfill backfill)
{
    if (!start_) {
        begin(seq, now, backfill, true);
        return;
    }
    if (seq < *start_)
        return;
    if (seq > highest_) {
        if (seq > highest_ + 1)
            open(highest_ + 1, seq - 1, now);
        highest_ = seq;
        changed_ = true;
        return;
    }
    // At or below the highest: either held already (a duplicate) or in a gap.
    auto after = std::upper_bound(gaps_.begin(), gaps_.end(), seq,
                                  [](int64_t s, const Gap& gap) { return s < gap.from; });
    if (after == gaps_.begin())
        return;
    auto gap = std::prev(after);
    if (seq > gap->to)
        return;
    changed_ = true;
    if (gap->from == gap->to) {
        gaps_.erase(gap);
    } else if (seq == gap->from) {
        ++gap->from;
    } else if (seq == gap->to) {
        --gap->to;
    } else {
        Gap right = *gap;
        right.from = seq + 1;
        gap->to = seq - 1;
        gaps_.insert(after, right);
    }
}

void SequenceBook::exists(int64_t lastSeq, Clock::time_point now, Backfill backfill)
{
    if (!start_) {
        begin(lastSeq, now, backfill, false);
        return;
    }
    if (lastSeq > highest_) {
        open(highest_ + 1, lastSeq, now);
        highest_ = lastSeq;
    }
}

void SequenceBook::unavailable(int64_t from, int64_t to)
{
    std::vector<Gap> result;
    for (const Gap& gap : gaps_) {
        if (gap.unavailable || gap.to < from || gap.from > to) {
            result.push_back(gap);
            continue;
        }
        changed_ = true;
        if (gap.from < from) {
            Gap left = gap;
            left.to = from - 1;
            result.push_back(left);
        }
        Gap lost = gap;
        lost.from = std::max(gap.from, from);
        lost.to = std::min(gap.to, to);
        lost.unavailable = true;
        result.push_back(lost);
        if (gap.to > to) {
            Gap right = gap;
            right.from = to + 1;
            result.push_back(right);
        }
    }
    gaps_ = std::move(result);
}

std::optional<Clock::time_point> SequenceBook::dueAt(const Gap& gap, const GapTiming& timing) const
{
    if (gap.unavailable)
        return std::nullopt;
    // The part from `from` on has not been asked for yet (a first request,
    // or the next chunk of a long gap once the chunk before is filled).
    if (!gap.askedAt || gap.from > gap.askedTo)
        return gap.firstSeen + timing.grace;
    std::chrono::milliseconds wait = timing.retryFirst;
    for (int32_t i = 1; i < gap.asks && wait < timing.retryMax; ++i)
        wait *= 2;
    return *gap.askedAt + std::min(wait, timing.retryMax);
}

std::optional<Clock::time_point> SequenceBook::nextDue(const GapTiming& timing) const
{
    std::optional<Clock::time_point> next;
    for (const Gap& gap : gaps_) {
        const std::optional<Clock::time_point> due = dueAt(gap, timing);
        if (due && (!next || *due < *next))
            next = due;
    }
    return next;
}

std::vector<SeqRange> SequenceBook::takeDue(Clock::time_point now, const GapTiming& timing)
{
    std::vector<SeqRange> requests;
    for (Gap& gap : gaps_) {
        const std::optional<Clock::time_point> due = dueAt(gap, timing);
        if (!due || *due > now)
            continue;
        // Joined to the request before while the range stays within the
        // limit of one request; the held seqs in between come as duplicates.
        if (requests.empty() || gap.from > requests.back().from + timing.maxPerRequest - 1) {
            if (static_cast<int32_t>(requests.size()) == timing.maxRequestsPerDevice)
                break;
            requests.push_back(SeqRange{gap.from, gap.from});
        }
        SeqRange& request = requests.back();
        request.to = std::min(gap.to, request.from + timing.maxPerRequest - 1);
        if (gap.from > gap.askedTo)
            gap.asks = 0;
        ++gap.asks;
        gap.askedAt = now;
        gap.askedTo = std::max(gap.askedTo, request.to);
        changed_ = true;
    }
    return requests;
}

int64_t SequenceBook::contiguous() const
{
    for (const Gap& gap : gaps_)
        if (!gap.unavailable)
            return gap.from - 1;
    return highest_;
}

}  // namespace velta36col
