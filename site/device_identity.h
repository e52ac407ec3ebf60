// Who a device of the site is, the one description every part of the site
// and every listener uses: its place among the site's devices, its name,
// the data id its events are stored under, its line and bus address, its
// doors.
#ifndef VELTA36_SITE_DEVICE_IDENTITY_H
#define VELTA36_SITE_DEVICE_IDENTITY_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace velta36site {

struct DeviceIdentity {
    // Marks an event row whose data id no device of the site has (another
    // writer of the same database).
    static constexpr std::size_t kOtherWriter = std::numeric_limits<std::size_t>::max();

    std::size_t index = 0;   // 0..n-1, devices of one line next to each other
    std::string name;        // from the configuration, or "device N"
    int64_t dataId = 0;      // "data_id": the rows of its events carry it
    std::size_t line = 0;    // index of its line
    std::string port;        // its line's port; the built-in simulated line's
                             // is empty until the lines are open
    int32_t baud = 9600;
    int32_t address = 0;     // bus address, 0..207
    int32_t doors = 1;       // 1 or 2

    bool ofThisSite() const { return index != kOtherWriter; }
    // For messages: "/dev/ttyUSB0, address 1".
    std::string place() const { return port + ", address " + std::to_string(address); }
};

struct LineIdentity {
    std::size_t index = 0;
    std::string port;
    int32_t baud = 9600;
};

}  // namespace velta36site

#endif
