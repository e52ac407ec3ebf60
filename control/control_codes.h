// Codes the host passes to VELTA36::DeviceIoControl. Each of the four starts
// a command sequence on the controller line; any other code asks for the
// outcome of the last sequence.
#ifndef VELTA36_CONTROL_CONTROL_CODES_H
#define VELTA36_CONTROL_CONTROL_CODES_H

enum ControlCode {
    CTL_SET_VALUE = 320,     // open a door: {"signal_id": "141600010010", "SetValue": door}
    CTL_CONFIGURE = 322,     // download the controller configuration (no argument)
    CTL_CARD_ADD = 324,      // {"<8-byte card code>": {"CardNumber", "EndDate", "DoorNo"}}
    CTL_CARD_DELETE = 326    // {"<any name>": {"CardNumber", "DoorNo"}}
};

// The only signal a door command is accepted for.
#define VELTA36_DOOR_SIGNAL_ID "141600010010"

#endif
