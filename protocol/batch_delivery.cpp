#include "batch_delivery.h"

#include <cstring>

#include "event_record.h"
#include "velta36.h"
#include "waiting_events.h"

namespace velta36 {

namespace {

const unsigned char* RecordAt(const unsigned char* records, int k)
{
    return records + kRecordSize * k;
}

// The leading records of this batch that were judged when the same batch
// was held back before.
int AlreadyJudged(const VELTA36& device, const unsigned char* records, int count)
{
    int k = 0;
    while (k < count && k < device.withheldCount &&
           std::memcmp(RecordAt(records, k), device.withheldRecords[k], kRecordSize) == 0)
        ++k;
    return k;
}

// The controller never holds more than kRememberedRecords; the records of
// a longer reply beyond them are judged again when they come again.
void Remember(VELTA36& device, const unsigned char* records, int judged)
{
    const int kept = judged < kRememberedRecords ? judged : kRememberedRecords;
    for (int i = 0; i < kept; ++i)
        std::memcpy(device.withheldRecords[i], RecordAt(records, i), kRecordSize);
    device.withheldCount = kept;
}

}  // namespace

bool DeliverBatch(VELTA36& device, const unsigned char* records, int count)
{
    int judged = AlreadyJudged(device, records, count);
    while (judged < count && WaitingCount(device) < kMostWaitingEvents) {
        device.DecodeEventRecord(RecordAt(records, judged));
        ++judged;
    }
    const bool stored = StoreWaiting(device);
    // Records left unjudged stay on the controller: no "v0" for them.
    if (stored && judged == count) {
        device.withheldCount = 0;
        return true;
    }
    Remember(device, records, judged);
    return false;
}

}  // namespace velta36
