// Out-of-line members that anchor the host framework's type information in
// the host runtime, where plug-ins resolve it at load time.
#include "Provider.h"
#include "ZRMController.h"
#include "ttime.h"

#include <boost/date_time/posix_time/posix_time.hpp>

Provider::~Provider() {}

ZRMSPDeviceProvider::~ZRMSPDeviceProvider() {}

ZRMController::ZRMController() : name_() {}

ZRMController::~ZRMController() {}

const std::string& ZRMController::Name() const { return name_; }

ttime get_ttime(const boost::posix_time::ptime& when)
{
    ttime stamp = {0, 0, 0, 0, 0, 0, 0};
    if (when.is_special())
        return stamp;
    const boost::gregorian::date day = when.date();
    const boost::posix_time::time_duration clock = when.time_of_day();
    const unsigned year = static_cast<unsigned>(day.year());
    stamp.yearLow = static_cast<unsigned char>(year & 0xFF);
    stamp.yearHigh = static_cast<unsigned char>(year >> 8);
    stamp.month = static_cast<unsigned char>(day.month());
    stamp.day = static_cast<unsigned char>(day.day());
    stamp.hour = static_cast<unsigned char>(clock.hours());
    stamp.minute = static_cast<unsigned char>(clock.minutes());
    stamp.second = static_cast<unsigned char>(clock.seconds());
    return stamp;
}
