// Control commands as a site takes them (from the command line, a broker,
// a control socket): checked here, before anything reaches the line, and
// turned into the code and JSON argument the device's DeviceIoControl
// takes.
#ifndef VELTA36_SITE_CONTROL_REQUEST_H
#define VELTA36_SITE_CONTROL_REQUEST_H

#include <cstdint>
#include <string>

#include "input_error.h"
#include "refhost/scheduler.h"

namespace velta36site {

struct ControlRequest {
    int32_t code = 0;
    std::string argument;   // JSON text, empty for the configuration download
    std::string what;       // for messages: "open door 1"
};

// What became of a submitted request: the scheduler's account of the
// exchange (what DeviceIoControl returned, whether a frame went out,
// whether the line went quiet, the result query's answer), or why it never
// ran to its end.
struct ControlOutcome : refhost::ControlOutcome {
    // Not empty: the command did not run or was cut short (its line ended
    // first, or the device threw); the other fields are then not meaningful.
    std::string error;

    // The plug-in's result query says the controller carried it out.
    bool carriedOut() const { return error.empty() && controlResult == 1; }
};

// Each throws InputError with one line naming the bad value.
ControlRequest OpenDoorRequest(int32_t door);
ControlRequest ConfigureRequest();
// door: 1 or 2, or 0 for both doors.
ControlRequest AddCardRequest(const std::string& code, int32_t slot, const std::string& endDate, int32_t door);
ControlRequest DeleteCardRequest(int32_t slot, int32_t door);

// "YYYY-MM-DD" naming a real day in 2000..2099 (the controller keeps two
// year digits): the plug-in's own date check, narrowed to those years.
bool IsCalendarDate(const std::string& text);

}  // namespace velta36site

#endif
