// The VELTA36 device object: defaults, application settings and the value
// query. The protocol, control and store operations live in protocol/,
// control/ and store/.
#include "velta36.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "event_database.h"

namespace {

// Reads one "appSetting" value the way the configuration has always been
// read: text or number through the JSON library's string conversion, then
// atoi. Absent or null keeps the current value (false). An array or object
// lets the JSON library's exception out.
bool ReadSetting(const Json::Value& app, const char* key, int& out)
{
    const Json::Value& value = app[key];
    if (value.isNull())
        return false;
    out = std::atoi(value.asString().c_str());
    return true;
}

// The settings below travel to the controller as one character, '0' plus
// the value, inside configuration commands. Only 0..9 make a digit; any
// other value would put another character there, such as '/' (the end of
// every frame) for -1 or '@' (the start) for 16. Such a value is refused:
// the setting keeps its current value, and a log line says so.
template <typename Setting>
void ReadDigitSetting(const Json::Value& app, const char* key, Setting& setting)
{
    int value = 0;
    if (!ReadSetting(app, key, value))
        return;
    // doors and card_type keep the low 8 bits, as they always have.
    const Setting stored = static_cast<Setting>(value);
    const int digit = static_cast<int>(stored);
    if (digit >= 0 && digit <= 9) {
        setting = stored;
        return;
    }
    // The value as the configuration gave it: -1, not the 255 its low 8 bits
    // make.
    std::cout << "appSetting " << key << " " << value
              << " cannot be sent as one digit (0 to 9), keeping " << static_cast<int>(setting) << std::endl;
}

// Every frame carries the address as one character, '0' + deviceAddress in
// 8 bits. Above 207 that wraps round to characters below '0', '/' (the end
// of every frame) among them: a host configuration of -1 arrives as 255.
const int kHighestAddress = 207;

}  // namespace

VELTA36::VELTA36()
    : UniDataDevice<VELTA36_Data_t, ZRMSPDevice, 5045>(),
      db(),
      EVT_SWIPE_IN(1),
      EVT_SWIPE_OUT(2),
      EVT_BUTTON_EXIT(3),
      EVT_CODE_4(4),
      EVT_CODE_5(5),
      EVT_CODE_6(6),
      EVT_ALARM_END(9),
      EVT_CARD_IN(10),
      EVT_CARD_OUT(11),
      EVT_UNKNOWN_CARD(12),
      EVT_CODE_13(13),
      EVT_ILLEGAL_OPEN(14),
      EVT_TIME_ZONE(15),
      EVT_POWER_OFF(0),
      EVT_POWER_ON(0),
      EVT_TAILGATING(0),
      pollFrame{'@', '0', 'q', '0', ';', '/'},
      cmdBuffer(),
      cmdLength(0),
      doors(1),
      card_type(1),
      clockSet(0),
      lastBatchCount(0),
      lastEventType(),
      doorOpenSeen(),
      lastAccessTime{boost::posix_time::ptime(boost::posix_time::not_a_date_time),
                     boost::posix_time::ptime(boost::posix_time::not_a_date_time)},
      controlResult(-1),
      door1_delay(3),
      door2_delay(3),
      cardDoorNo(1),
      cardFrame1(),
      cardFrame2(),
      cardFrame3(),
      cardFrame4(),
      cardFrame5(),
      saveFailed(0),
      withheldCount(0),
      withheldRecords(),
      storeConnection(),
      cardFrameLength(),
      addressRefused(0),
      waitingEvents()
{
    deviceType = "velta36";
    baudRate = 9600;
    rxLength = 0;
    deviceAddress = 0;

    // The handle connects at the first save; a missing file is not an
    // error here, and the file is never created by the plug-in.
    db = OpenEventDatabase();

    cmdBuffer[0] = '@';
    cardFrame1[0] = '@';
    cardFrame2[0] = '@';
    cardFrame3[0] = '@';
    cardFrame4[0] = '@';
    cardFrame5[0] = '@';
}

VELTA36::~VELTA36() {}

int VELTA36::InitSetting(const Json::Value& config)
{
    // The host's own keys first: the address is known only afterwards.
    ZRMVDevice::InitSetting(config);

    // Every frame starts with '@' and the address character; only here is
    // byte 1 of the buffers written, before "appSetting" is read, whose
    // values may make the JSON library throw. An address no character names
    // leaves the device mute (nothing polled, no command started) rather
    // than talking to the address the buffers held before.
    if (deviceAddress > kHighestAddress) {
        addressRefused = 1;
        std::cout << "deviceAddress " << static_cast<int>(deviceAddress)
                  << " cannot be sent as an address character (0 to 207), nothing is sent until it can"
                  << std::endl;
    } else {
        addressRefused = 0;
        const unsigned char address = static_cast<unsigned char>('0' + deviceAddress);
        pollFrame[1] = address;
        cardFrame5[1] = address;
        cardFrame4[1] = address;
        cardFrame3[1] = address;
        cardFrame2[1] = address;
        cardFrame1[1] = address;
        cmdBuffer[1] = address;
    }

    const Json::Value& app = config["appSetting"];
    if (!app.isNull() && app.isObject()) {
        ReadDigitSetting(app, "doors", doors);
        ReadDigitSetting(app, "card_type", card_type);
        ReadDigitSetting(app, "door1_delay", door1_delay);
        ReadDigitSetting(app, "door2_delay", door2_delay);
    }

    return UniDataDevice<VELTA36_Data_t, ZRMSPDevice, 5045>::InitSetting(config);
}

float VELTA36::Get_Value(unsigned int, const std::string&) const
{
    if (!dataReady)
        throw std::out_of_range("数据未就绪");
    const boost::posix_time::time_duration age =
        boost::posix_time::second_clock::local_time() - lastUpdate;
    // A round without a usable time stamp cannot count as fresh. A clock set
    // back (negative age) is not stale.
    if (age.is_special() || age.total_seconds() > 60)
        throw std::out_of_range("数据已超时");
    throw std::out_of_range("不支持变量");
}

void VELTA36::RunCheckThreshold() {}
