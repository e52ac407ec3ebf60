#include "batch_delivery.h"

#include <cstring>

#include "event_record.h"
#include "velta36.h"

namespace velta36 {

namespace {

const unsigned char* RecordAt(const unsigned char* records, int k)
{
    return records + kRecordSize * k;
}

// The leading records of this batch that were dealt with when the same
// batch was withheld before.
int AlreadyStored(const VELTA36& device, const unsigned char* records, int count)
{
    int k = 0;
    while (k < count && k < device.withheldCount &&
           std::memcmp(RecordAt(records, k), device.withheldRecords[k], kRecordSize) == 0)
        ++k;
    return k;
}

}  // namespace

bool DeliverBatch(VELTA36& device, const unsigned char* records, int count)
{
    const int skipped = AlreadyStored(device, records, count);
    device.withheldCount = 0;
    for (int k = skipped; k < count; ++k) {
        device.saveFailed = 0;
        device.DecodeEventRecord(RecordAt(records, k));
        if (!device.saveFailed)
            continue;
        // Withheld: remember what of it is in the table now. The controller
        // never holds more than kRememberedRecords; a longer reply is
        // remembered as far as there is room, and the rest is stored again.
        const int kept = k < kRememberedRecords ? k : kRememberedRecords;
        for (int i = 0; i < kept; ++i)
            std::memcpy(device.withheldRecords[i], RecordAt(records, i), kRecordSize);
        device.withheldCount = kept;
        return false;
    }
    return true;
}

}  // namespace velta36
