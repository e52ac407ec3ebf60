#include "console_listener.h"

#include "output_format.h"

namespace velta36cli {

ConsoleListener::ConsoleListener(Console& console, const velta36site::Site& site)
    : console_(console), several_(site.devices().size() > 1)
{
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
    console_.line(TraceLine(record.when, record.device, record.direction == refhost::TraceRecord::Direction::Sent,
                            record.bytes));
}

void ConsoleListener::onPluginLog(const velta36site::DeviceIdentity&, const std::string& line)
{
    console_.line(line);
}

void ConsoleListener::onCaptureStopped(const std::string& why)
{
    console_.error(why);
}

}  // namespace velta36cli
