// The built-in simulated controller: a site's line whose port is
// "simulator" (velta36site::kSimulatorPort) is served by simulated controllers (one per
// configured device, seeded with a working day of events) on a
// pseudo-terminal of this process. Must outlive the site it opens lines
// for.
#ifndef VELTA36_CLI_BUILT_IN_LINE_H
#define VELTA36_CLI_BUILT_IN_LINE_H

#include <memory>

#include "console.h"
#include "simulated_line.h"
#include "site.h"

namespace velta36cli {

class BuiltInLine {
public:
    // endWhenDrained: the line ends once no controller holds an event (a
    // run without a round limit); a command's line stays.
    BuiltInLine(Console& console, bool endWhenDrained);

    // For Site::setLineOpener: the simulated line for the port "simulator", the
    // serial line otherwise.
    velta36site::OpenedLine open(const velta36site::LineSpec& line, const refhost::Rs485Settings& rs485);
    velta36site::LineOpener opener();

    // None until a line needed it.
    SimulatedLine* simulator() { return simulator_.get(); }

private:
    Console& console_;
    bool endWhenDrained_;
    std::unique_ptr<SimulatedLine> simulator_;
};

}  // namespace velta36cli

#endif
