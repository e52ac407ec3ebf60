// VELTA36: the device object of one one- or two-door access controller on a
// serial line. The members are laid out in the order the plug-in has always
// used; the protocol, control and store operations are defined in protocol/,
// control/ and store/.
#ifndef VELTA36_PLUGIN_VELTA36_H
#define VELTA36_PLUGIN_VELTA36_H

#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/json.h>

#include "ZRMSPDevice.h"
#include "uni_data_device.h"
#include "velta36_data.h"

class velta36_event;
namespace odb {
class database;
}
namespace velta36 {
class StoreConnection;
struct WaitingEvents;
}

class VELTA36 : public UniDataDevice<VELTA36_Data_t, ZRMSPDevice, 5045> {
public:
    VELTA36();
    ~VELTA36() override;

    // Settings and value query (plugin/).
    float Get_Value(unsigned int id, const std::string& name) const override;
    int InitSetting(const Json::Value& config) override;
    void RunCheckThreshold() override;

    // Control commands (control/).
    int DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen,
                        int& outRet) override;

    // Polling and reply handling (protocol/).
    int RefreshStatus() override;
    int process(unsigned char* data, unsigned int len) override;

    // Framing (protocol/): the command checksum over bytes 2..len+1, written
    // as four nibble characters from '0' and a closing '/'.
    void CmdCrc(int len);
    void CmdUserCrc(unsigned char* buf, int len);

    // Reply decoding (protocol/), called by process on a verified frame.
    // Both judge what they read and queue the events for storing.
    void DecodeDoorStatus(const unsigned char* frame, int length);
    void DecodeEventRecord(const unsigned char* record);

    // Event persistence (store/).
    void SaveDoorEvent(velta36_event& event);

    std::shared_ptr<odb::database> db;

    int32_t EVT_SWIPE_IN;
    int32_t EVT_SWIPE_OUT;
    int32_t EVT_BUTTON_EXIT;
    int32_t EVT_CODE_4;
    int32_t EVT_CODE_5;
    int32_t EVT_CODE_6;
    int32_t EVT_ALARM_END;
    int32_t EVT_CARD_IN;
    int32_t EVT_CARD_OUT;
    int32_t EVT_UNKNOWN_CARD;
    int32_t EVT_CODE_13;
    int32_t EVT_ILLEGAL_OPEN;
    int32_t EVT_TIME_ZONE;
    int32_t EVT_POWER_OFF;
    int32_t EVT_POWER_ON;
    int32_t EVT_TAILGATING;

    unsigned char pollFrame[6];
    unsigned char cmdBuffer[64];
    int32_t cmdLength;
    uint8_t doors;
    uint8_t card_type;
    unsigned char clockSet;
    int32_t lastBatchCount;
    uint8_t lastEventType[4];
    unsigned char doorOpenSeen[2];
    boost::posix_time::ptime lastAccessTime[2];
    int32_t controlResult;
    int32_t door1_delay;
    int32_t door2_delay;
    int32_t cardDoorNo;
    unsigned char cardFrame1[64];
    unsigned char cardFrame2[64];
    unsigned char cardFrame3[64];
    unsigned char cardFrame4[64];
    unsigned char cardFrame5[64];

    // Members added later, after all of the above, so that nothing laid out
    // before them moves.

    // Set by SaveDoorEvent when the event could not be stored in any of its
    // attempts; the decoder then stops and withholds the batch's "v0".
    unsigned char saveFailed;
    // The batch whose "v0" was withheld last: how many of its leading
    // records were already judged and their bytes. The controller sends
    // that batch again from its oldest record; those records are recognised
    // and neither judged nor stored a second time.
    int32_t withheldCount;
    unsigned char withheldRecords[10][23];
    // The database connection the saves go through, with its lock wait set
    // once (store/). Empty before the first save and after a failed attempt.
    std::shared_ptr<velta36::StoreConnection> storeConnection;
    // The length of cardFrame1 to cardFrame5 (index 0 to 4), recorded where
    // each is built (control/); 0 for a frame never built.
    int32_t cardFrameLength[5];
    // InitSetting found no address a frame can carry in deviceAddress:
    // nothing is sent until a later InitSetting brings one.
    unsigned char addressRefused;
    // Events judged but not yet in the table, oldest first (protocol/):
    // those of a batch held back and alarm ends a status reply made. Made
    // at the first judgement.
    std::shared_ptr<velta36::WaitingEvents> waitingEvents;
};

#endif
