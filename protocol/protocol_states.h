// Values of protocolState: the reply the device is waiting for. Each is set
// just before the request whose reply it names is sent.
#ifndef VELTA36_PROTOCOL_PROTOCOL_STATES_H
#define VELTA36_PROTOCOL_PROTOCOL_STATES_H

enum ProtocolStateValue {
    PS_EVENT_READ = 10,      // pollFrame: a batch of stored events
    PS_STATUS_READ = 11,     // "{": door status
    PS_CFG_2 = 12,           // configuration step 2
    PS_TIME_SET = 13,        // "01...": clock set
    PS_EVENT_ACK = 15,       // "v0": batch acknowledged
    PS_EVENT_ACK_END = 16,   // "v3": draining finished
    PS_DOOR_OPEN = 17,       // "220d": open door
    PS_DOOR_FOLLOWUP = 18,   // "230d": follow-up door command
    PS_CFG_1 = 19,           // "00": configuration step 1
    PS_CFG_3 = 21,
    PS_CFG_4 = 22,
    PS_CFG_5 = 23,
    PS_CFG_6 = 24,
    PS_CFG_7 = 25,
    PS_CFG_8 = 26,
    PS_CFG_9 = 27,
    PS_CFG_10 = 28,
    PS_CFG_11 = 29,
    PS_CFG_12 = 30,
    PS_CFG_13 = 31,
    PS_CFG_14 = 32,
    PS_CFG_15 = 33,
    PS_CFG_16 = 34,
    PS_CFG_17 = 35,
    PS_CARD_ADD_1 = 36,
    PS_CARD_ADD_2 = 37,
    PS_CARD_ADD_3 = 38,
    PS_CARD_ADD_4 = 39,
    PS_CARD_ADD_5 = 40,
    PS_CARD_ADD_6 = 41,
    PS_CARD_DEL_1 = 42,
    PS_CARD_DEL_2 = 43,
    PS_CARD_DEL_3 = 44,
    PS_CARD_DEL_4 = 45,

    // Replies in this range are acknowledgements ('h' ... '/'); all other
    // states expect a checksummed data frame.
    PS_ACK_FIRST = 12,
    PS_ACK_LAST = 45
};

#endif
