// English names of what a stored event says, for people reading the
// table: the event type's name by its code, refined by the stored reason
// where one code stands for several things (code 0: power off, power on,
// tailgating refused; codes 10 and 11 with a refusal's reason).
#ifndef VELTA36_CLI_EVENT_NAMES_H
#define VELTA36_CLI_EVENT_NAMES_H

#include <cstdint>
#include <string>

namespace velta36cli {

// "granted in", "door forced", "card in refused: anti-passback", "power
// on", "code 13" for a code no record decodes to.
std::string EventTypeName(int64_t type, const std::string& reason);

}  // namespace velta36cli

#endif
