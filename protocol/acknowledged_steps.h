// What the device does when the controller acknowledges a command ('h' ...
// '/'): the next frame of the polling chain or of a control sequence.
#ifndef VELTA36_PROTOCOL_ACKNOWLEDGED_STEPS_H
#define VELTA36_PROTOCOL_ACKNOWLEDGED_STEPS_H

class VELTA36;

namespace velta36 {

// Carries out the step of device.protocolState after an acknowledgement has
// been taken out of the receive buffer. Returns what process returns: 0 when
// the exchange is over, 1 when a further reply is awaited.
int RunAcknowledgedStep(VELTA36& device);

}  // namespace velta36

#endif
