// Serves a shared line as the responder of an in-memory transport: every
// frame the driver sends is fed to the controllers, their reply chunks are
// queued as received chunks.
#ifndef VELTA36SIM_MEMORY_LINE_H
#define VELTA36SIM_MEMORY_LINE_H

#include "refhost/memory_transport.h"
#include "velta36sim/shared_line.h"

namespace velta36sim {

// The line must outlive the transport's use of the responder.
void ServeOnMemoryTransport(refhost::MemoryTransport& transport, SharedLine& line);

}  // namespace velta36sim

#endif
