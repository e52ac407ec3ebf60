#include "velta36sim/memory_line.h"

namespace velta36sim {

void ServeOnMemoryTransport(refhost::MemoryTransport& transport, SharedLine& line)
{
    // The responder runs inside send(), outside the transport's lock, so it
    // may queue replies straight away.
    transport.setResponder([&transport, &line](const std::vector<unsigned char>& frame) {
        const std::vector<Bytes> chunks =
            line.Feed(reinterpret_cast<const char*>(frame.data()), frame.size());
        for (const Bytes& chunk : chunks)
            transport.pushReply(chunk);
    });
}

}  // namespace velta36sim
