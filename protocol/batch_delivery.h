// The records of one event reply: judged once, stored in order, and what
// is remembered of a batch that could not be stored whole.
//
// The controller deletes a batch only when it is acknowledged ("v0"). If an
// event of it cannot be stored, the batch is not acknowledged: the
// controller keeps it and sends it again, from its oldest record, at the
// next event read. Every record of the batch was judged at its first
// decoding and its event waits to be stored (waiting_events.h); the
// records are remembered, and when they lead the next batch again they are
// neither judged nor stored a second time. Records after them are new and
// judged then. Events judged from records the controller no longer sends
// are stored all the same: they were read, and nothing else holds them.
#ifndef VELTA36_PROTOCOL_BATCH_DELIVERY_H
#define VELTA36_PROTOCOL_BATCH_DELIVERY_H

class VELTA36;

namespace velta36 {

// Most records of a batch recognised when it comes again; the controller
// hands out at most this many.
const int kRememberedRecords = 10;

// Judges the count 23-byte records at records that were not judged before
// and stores every event that waits. True when all of them are stored (the
// batch may be acknowledged); false when a save gave up, in which case the
// batch is remembered.
bool DeliverBatch(VELTA36& device, const unsigned char* records, int count);

}  // namespace velta36

#endif
