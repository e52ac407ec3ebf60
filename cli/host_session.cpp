#include "host_session.h"

#include <unistd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "control_request.h"
#include "event_database.h"
#include "output_format.h"
#include "plugin_path.h"
#include "refhost/serial_transport.h"

namespace velta36cli {

namespace {

// Swallows what the plug-in writes on standard output unless the user
// asked for the trace, where it belongs next to the frames.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::string AbsolutePath(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return path;
    char buffer[4096];
    if (!getcwd(buffer, sizeof(buffer)))
        return path;
    return std::string(buffer) + "/" + path;
}

void EnterFolder(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0775) != 0 && errno != EEXIST)
        throw InputError("cannot create the folder " + dir + ": " + std::strerror(errno));
    if (chdir(dir.c_str()) != 0)
        throw InputError("cannot enter the folder " + dir + ": " + std::strerror(errno));
}

}  // namespace

HostSession::HostSession(const LineOptions& options, const refhost::Scheduler::Options& schedule,
                         Console& console, bool storesEvents)
    : console_(console)
{
    LineDefaults defaults{options.port, options.baud, options.address};
    devices_ = LoadDevices(options.config, defaults);
    std::vector<LineSpec> lines = GroupByLine(devices_);
    // Opened before the working folder changes: a relative path is the
    // user's. A path that cannot be written stops everything here.
    if (options.capture)
        capture_.reset(new LineCapture(*options.capture));

    const std::string pluginPath = AbsolutePath(options.plugin ? *options.plugin : DefaultPluginPath());
    plugin_ = refhost::PluginLibrary::Load(pluginPath);

    // The plug-in opens "ZRMDevice.db" relative to the working folder and
    // never creates it: set both up the way a host installation does.
    EnterFolder(options.dir);
    if (storesEvents) {
        // A database that cannot be set up now is a database fault like any
        // other: the controllers are polled anyway and keep their events
        // until they can be stored.
        try {
            const DatabaseSetup setup = EnsureEventDatabase(kDatabaseFile);
            if (setup == DatabaseSetup::CreatedFile)
                console_.line("created " + std::string(kDatabaseFile) + " in " + options.dir);
            else if (setup == DatabaseSetup::CreatedTable)
                console_.line("created the event table in " + std::string(kDatabaseFile));
        } catch (const std::exception& error) {
            console_.line(std::string("cannot set up ") + kDatabaseFile + ": " + error.what() +
                          "; polling anyway, events stay on the controllers until they can be stored");
        }
    }

    for (LineSpec& line : lines) {
        if (!line.port.empty())
            continue;
        std::vector<SimulatedControllerSpec> controllers;
        for (const DeviceSpec& device : line.devices) {
            SimulatedControllerSpec spec;
            spec.address = device.address;
            spec.doors = device.doors;
            spec.seed = static_cast<uint64_t>(device.address) + 1;
            controllers.push_back(spec);
        }
        simulator_.reset(new SimulatedLine(controllers, 0));
        line.port = simulator_->start();
        console_.line("simulated controller on " + line.port + " holding " +
                      std::to_string(simulator_->eventsSeeded()) + " stored events");
    }

    if (!options.trace) {
        quiet_.reset(new std::ostream(new NullBuffer));
        savedCout_ = std::cout.rdbuf(quiet_->rdbuf());
    }

    scheduler_.reset(new refhost::Scheduler(schedule));
    scheduler_->setEventObserver(
        [this](std::size_t device, const refhost::HostEvent& event) { onHostEvent(device, event); });
    scheduler_->setDatabaseObserver([this](std::size_t device, const refhost::DatabaseHealth& health) {
        onDatabaseChange(device, health);
    });
    if (options.trace || capture_) {
        const bool print = options.trace;
        scheduler_->setTraceObserver(
            [this, print](const refhost::TraceRecord& record) { onLineTraffic(record, print); });
    }
    if (capture_)
        capture_->onFailure([this](const std::string& why) { console_.error(why); });
    devices_.clear();
    for (const LineSpec& line : lines) {
        // Opened here so that a missing, busy or forbidden port is reported
        // before anything runs.
        std::unique_ptr<refhost::Transport> transport(
            new refhost::SerialTransport(line.port, line.baud, options.rs485));
        transport->open();
        const std::size_t lineIndex = scheduler_->addLine(line.port, std::move(transport), line.baud);
        if (capture_)
            addCaptureInterface(lineIndex, line);
        for (const DeviceSpec& device : line.devices) {
            try {
                scheduler_->addDevice(lineIndex, device.name, plugin_->createDevice(), device.config);
            } catch (const std::exception& error) {
                throw InputError(device.name + ": the plug-in refused its configuration: " + error.what());
            }
            devices_.push_back(device);
            devices_.back().port = line.port;
            places_.push_back(line.port + ", address " + std::to_string(device.address));
            doorState_.push_back(-1);
            lastRoundAt_.emplace_back();
        }
    }
}

HostSession::~HostSession()
{
    scheduler_.reset();   // devices go before the plug-in that holds their code
    simulator_.reset();
    if (savedCout_)
        std::cout.rdbuf(savedCout_);
    if (quiet_) {
        delete quiet_->rdbuf();
        quiet_.reset();
    }
}

void HostSession::addCaptureInterface(std::size_t lineIndex, const LineSpec& line)
{
    std::string devices;
    for (const DeviceSpec& device : line.devices) {
        const std::string note = device.name + " (address " + std::to_string(device.address) + ")";
        captureNotes_[{lineIndex, device.name}] = note;
        devices += (devices.empty() ? "" : ", ") + note;
    }
    captureInterfaces_.resize(lineIndex + 1);
    captureInterfaces_[lineIndex] = capture_->addInterface(
        line.port, "velta36 host side, " + std::to_string(line.baud) + " baud: " + devices);
}

void HostSession::onLineTraffic(const refhost::TraceRecord& record, bool print)
{
    const bool sent = record.direction == refhost::TraceRecord::Direction::Sent;
    if (print)
        console_.line(TraceLine(record.when, record.device, sent, record.bytes));
    if (!capture_)
        return;
    // What the host writes leaves through the interface: outbound.
    const auto note = captureNotes_.find({record.line, record.device});
    capture_->record(captureInterfaces_.at(record.line),
                     sent ? CaptureDirection::Outbound : CaptureDirection::Inbound, record.when,
                     record.bytes.data(), record.bytes.size(),
                     note != captureNotes_.end() ? note->second : record.device);
}

std::string HostSession::placeOf(std::size_t device) const
{
    return places_.at(device);
}

std::string HostSession::doorsOf(std::size_t device) const
{
    int state;
    {
        std::lock_guard<std::mutex> lock(doorMutex_);
        state = doorState_.at(device);
    }
    if (state < 0)
        return "doors not reported yet";
    return DoorStates(devices_.at(device).doors, (state & 1) != 0, (state & 2) != 0);
}

HostSession::LastRound HostSession::lastRoundOf(std::size_t device) const
{
    std::lock_guard<std::mutex> lock(doorMutex_);
    return LastRound{doorState_.at(device), lastRoundAt_.at(device)};
}

std::string HostSession::nameForDataId(int64_t dataId) const
{
    for (const DeviceSpec& device : devices_) {
        if (device.config["data_id"].asInt64() == dataId)
            return device.name;
    }
    return "data id " + std::to_string(dataId);
}

void HostSession::onDatabaseChange(std::size_t device, const refhost::DatabaseHealth& health)
{
    // One line when a fault starts and one when it is over, never one per
    // event: the scheduler reports only the changes.
    const std::string& name = devices_.at(device).name;
    if (health.faulty)
        console_.line(name + ": events not stored (" + health.lastError +
                      "); the controller keeps them until they can be");
    else
        console_.line(name + ": events stored again");
}

void HostSession::onHostEvent(std::size_t device, const refhost::HostEvent& event)
{
    // The published record: data id (4 bytes), door 1 open, door 2 open, stamp.
    if (event.kind != refhost::HostEvent::Kind::SendSP || event.bytes.size() < 6)
        return;
    const int state = (event.bytes[4] ? 1 : 0) | (event.bytes[5] ? 2 : 0);
    {
        std::lock_guard<std::mutex> lock(doorMutex_);
        lastRoundAt_[device] = std::chrono::steady_clock::now();
        if (doorState_[device] == state)
            return;
        doorState_[device] = state;
    }
    console_.line(devices_[device].name + ": " + doorsOf(device));
}

}  // namespace velta36cli
