#include "console_listener.h"

#include "output_format.h"

namespace velta36cli {

ConsoleListener::ConsoleListener(Console& console, const velta36site::Site& site)
    : console_(console), several_(site.devices().size() > 1), trace_(site.config().trace),
      timedOutInRow_(site.devices().size(), 0)
{
}

void ConsoleListener::onRoundCompleted(const velta36site::DeviceIdentity& device)
{
    uint32_t& inRow = timedOutInRow_.at(device.index);
    if (inRow >= kSilentRounds)
        console_.line(device.name + ": answers again (" + device.place() + ")");
    inRow = 0;
}

void ConsoleListener::onRoundTimedOut(const velta36site::DeviceIdentity& device)
{
    if (trace_) {
        for (const std::string& line : frames_.timedOut(device.name, std::chrono::system_clock::now()))
            console_.line(line);
    }
    if (++timedOutInRow_.at(device.index) == kSilentRounds)
        console_.line(device.name + ": no answer " + std::to_string(kSilentRounds) + " times in a row (" +
                      device.place() + "); still polling");
}

void ConsoleListener::onLineState(const velta36site::LineIdentity& line, bool open, const std::string& error)
{
    if (open)
        console_.line(line.port + ": open, its devices are polled");
    else
        console_.line(error + "; trying again, every second at first, then less often up to once a minute");
}

void ConsoleListener::onControlOutcome(const velta36site::DeviceIdentity& device,
                                       const velta36site::ControlRequest& request,
                                       const velta36site::ControlOutcome& outcome)
{
    console_.line(device.name + ": " + request.what + (outcome.carriedOut() ? ": done" : ": not carried out"));
}

void ConsoleListener::onEventStored(const velta36site::DeviceIdentity& device, const velta36site::StoredEvent& row)
{
    console_.line((several_ ? device.name + ": " : std::string()) + EventLine(row));
    ++printed_;
}

void ConsoleListener::onDoorsChanged(const velta36site::DeviceIdentity& device, const velta36site::DoorStates& doors)
{
    console_.line(device.name + ": " + DoorStatesText(device.doors, doors));
}

void ConsoleListener::onDatabaseFault(const velta36site::DeviceIdentity& device, const refhost::DatabaseHealth& health)
{
    if (health.faulty)
        console_.line(device.name + ": events not stored (" + health.lastError +
                      "); the controller keeps them until they can be");
    else
        console_.line(device.name + ": events stored again");
}

void ConsoleListener::onTraffic(const refhost::TraceRecord& record)
{
    if (!trace_)
        return;
    for (const std::string& line : frames_.add(record))
        console_.line(line);
}

void ConsoleListener::onPluginLog(const velta36site::DeviceIdentity& device, const std::string& line)
{
    console_.line((several_ ? "plug-in " + device.name + ": " : std::string("plug-in: ")) + line);
}

void ConsoleListener::onCaptureStopped(const std::string& why)
{
    console_.error(why);
}

}  // namespace velta36cli
