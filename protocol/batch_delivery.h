// The records of one event reply, stored in order, and what is remembered
// of a batch that could not be stored whole.
//
// The controller deletes a batch only when it is acknowledged ("v0"). If an
// event of it cannot be stored, the batch is not acknowledged: the
// controller keeps it and sends it again, from its oldest record, at the
// next event read. The records before the one that failed were stored
// already; they are remembered (count and bytes) and, when they lead the
// next batch again, are neither stored nor fed to the door tracking a
// second time. The records after the failed one are not tried: they come
// again anyway.
#ifndef VELTA36_PROTOCOL_BATCH_DELIVERY_H
#define VELTA36_PROTOCOL_BATCH_DELIVERY_H

class VELTA36;

namespace velta36 {

// Most records in one event reply the memory has room for; the controller
// hands out at most this many.
const int kRememberedRecords = 10;

// Decodes and stores the count 23-byte records at records. True when every
// record was dealt with (the batch may be acknowledged); false when an
// event could not be stored, in which case the batch is remembered.
bool DeliverBatch(VELTA36& device, const unsigned char* records, int count);

}  // namespace velta36

#endif
