// The controller's clock-set command ("01"): hour, minute, day, month and
// year as two digits each, then the weekday as one digit. Seconds are not
// part of it; the controller starts the minute at zero.
#ifndef VELTA36_PROTOCOL_CLOCK_COMMAND_H
#define VELTA36_PROTOCOL_CLOCK_COMMAND_H

#include <ctime>

namespace velta36 {

// Number of command bytes WriteClockCommand writes.
const int kClockCommandLength = 13;

// Writes the 13 command bytes for the broken-down local time at out:
// "01", hh, mm, DD, MM, YY (year - 2000), weekday ('1' = Sunday .. '7').
void WriteClockCommand(const std::tm& local, unsigned char* out);

}  // namespace velta36

#endif
