// Control commands as the tool offers them: checked here, before anything
// reaches the line, and turned into the code and JSON argument the device's
// DeviceIoControl takes.
#ifndef VELTA36_CLI_CONTROL_REQUEST_H
#define VELTA36_CLI_CONTROL_REQUEST_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velta36cli {

const int32_t kCodeOpenDoor = 320;
const int32_t kCodeConfigure = 322;
const int32_t kCodeAddCard = 324;
const int32_t kCodeDeleteCard = 326;
const char* const kDoorSignalId = "141600010010";

class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

struct ControlRequest {
    int32_t code = 0;
    std::string argument;   // JSON text, empty for the configuration download
    std::string what;       // for messages: "open door 1"
};

// Each throws InputError with one line naming the bad value.
ControlRequest OpenDoorRequest(int32_t door);
ControlRequest ConfigureRequest();
// door: 1 or 2, or 0 for both doors.
ControlRequest AddCardRequest(const std::string& code, int32_t slot, const std::string& endDate, int32_t door);
ControlRequest DeleteCardRequest(int32_t slot, int32_t door);

// "YYYY-MM-DD" naming a real day in 2000..2099 (the controller keeps two
// year digits).
bool IsCalendarDate(const std::string& text);

}  // namespace velta36cli

#endif
