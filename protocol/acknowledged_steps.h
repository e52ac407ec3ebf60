// What the device does when the controller acknowledges a command ('h' ...
// '/'): the next frame of the polling chain or of a control sequence; and
// when it does not.
#ifndef VELTA36_PROTOCOL_ACKNOWLEDGED_STEPS_H
#define VELTA36_PROTOCOL_ACKNOWLEDGED_STEPS_H

class VELTA36;

namespace velta36 {

// Carries out the step of device.protocolState after an acknowledgement has
// been taken out of the receive buffer. Returns what process returns: 0 when
// the exchange is over, 1 when a further reply is awaited.
int RunAcknowledgedStep(VELTA36& device);

// What the device does when the reply awaited in an acknowledged state is
// complete but no acknowledgement (refused, or noise before the 'h'). A
// control sequence stops where it is and reports -1 in controlResult; a
// polling frame's refusal leaves controlResult to the control sequences. A
// refused clock command leaves the clock unset (the next round sends it
// again) and the round goes on to the door status, so that a controller
// that keeps refusing it is still polled. Returns what process returns.
int RunRefusedStep(VELTA36& device);

}  // namespace velta36

#endif
