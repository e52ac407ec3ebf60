// The start of every polling round: the clock is set once per device
// object, after that every round asks for the door status.
#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "protocol_states.h"
#include "velta36.h"

namespace {

void PutTwoDigits(unsigned char* out, int value)
{
    out[0] = static_cast<unsigned char>(value / 10 + '0');
    out[1] = static_cast<unsigned char>(value % 10 + '0');
}

}  // namespace

int VELTA36::RefreshStatus()
{
    ZRMSPDevice::RefreshStatus();
    if (clockSet == 1) {
        protocolState = PS_STATUS_READ;
        cmdBuffer[2] = '{';
        CmdCrc(1);
        SendData(cmdBuffer, static_cast<unsigned int>(cmdLength));
        return 1;
    }

    protocolState = PS_TIME_SET;
    const std::tm now = boost::posix_time::to_tm(boost::posix_time::second_clock::local_time());
    unsigned char* command = cmdBuffer + 2;
    command[0] = '0';
    command[1] = '1';
    PutTwoDigits(command + 2, now.tm_hour);
    PutTwoDigits(command + 4, now.tm_min);
    PutTwoDigits(command + 6, now.tm_mday);
    PutTwoDigits(command + 8, now.tm_mon + 1);
    PutTwoDigits(command + 10, (now.tm_year + 1900 - 2000) % 100);
    command[12] = static_cast<unsigned char>('1' + now.tm_wday);   // '1' = Sunday
    CmdCrc(13);
    SendData(cmdBuffer, static_cast<unsigned int>(cmdLength));
    clockSet = 1;
    return 1;
}
