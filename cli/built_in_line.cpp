#include "built_in_line.h"

#include "refhost/serial_transport.h"

namespace velta36cli {

BuiltInLine::BuiltInLine(Console& console, bool endWhenDrained) : console_(console), endWhenDrained_(endWhenDrained)
{
}

velta36site::OpenedLine BuiltInLine::open(const velta36site::LineSpec& line, const refhost::Rs485Settings& rs485)
{
    if (line.identity.port != velta36site::kSimulatorPort)
        return velta36site::OpenSerialLine(line, rs485);
    std::vector<SimulatedControllerSpec> controllers;
    for (const velta36site::DeviceIdentity& device : line.devices) {
        SimulatedControllerSpec spec;
        spec.address = device.address;
        spec.doors = device.doors;
        spec.seed = static_cast<uint64_t>(device.address) + 1;
        controllers.push_back(spec);
    }
    simulator_.reset(new SimulatedLine(controllers, 0));
    velta36site::OpenedLine opened;
    opened.port = simulator_->start();
    console_.line("simulated controller on " + opened.port + " holding " +
                  std::to_string(simulator_->eventsSeeded()) + " stored events");
    opened.transport.reset(new refhost::SerialTransport(opened.port, line.identity.baud, rs485));
    opened.transport->open();
    // A simulated controller has a known end: once nothing is left on it.
    if (endWhenDrained_) {
        SimulatedLine* simulator = simulator_.get();
        opened.finished = [simulator] { return simulator->drained(); };
    }
    return opened;
}

velta36site::LineOpener BuiltInLine::opener()
{
    return [this](const velta36site::LineSpec& line, const refhost::Rs485Settings& rs485) {
        return open(line, rs485);
    };
}

}  // namespace velta36cli
