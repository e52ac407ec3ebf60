// The start of every polling round: the clock-set command until the
// controller has acknowledged one, after that the status request. A
// power-on record makes the clock unset again (event_decoding.cpp).
#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "clock_command.h"
#include "protocol_states.h"
#include "velta36.h"

int VELTA36::RefreshStatus()
{
    ZRMSPDevice::RefreshStatus();
    if (addressRefused) {
        // No address to put into a frame: nothing is asked, and the
        // exchange is over before it began.
        Reset();
        return 1;
    }
    if (clockSet == 1) {
        protocolState = PS_STATUS_READ;
        cmdBuffer[2] = '{';
        CmdCrc(1);
        SendData(cmdBuffer, static_cast<unsigned int>(cmdLength));
        return 1;
    }

    // clockSet is set by the acknowledgement (acknowledged_steps.cpp): a
    // command lost on the line or missed by a controller still starting is
    // sent again at the next round.
    protocolState = PS_TIME_SET;
    const std::tm now = boost::posix_time::to_tm(boost::posix_time::second_clock::local_time());
    velta36::WriteClockCommand(now, cmdBuffer + 2);
    CmdCrc(velta36::kClockCommandLength);
    SendData(cmdBuffer, static_cast<unsigned int>(cmdLength));
    return 1;
}
