#include "site.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <streambuf>

#include "event_stream.h"
#include "input_error.h"
#include "plugin_path.h"
#include "refhost/serial_transport.h"

namespace velta36site {

namespace {

// The notification thread's round for other writers of the database, ticks
// and line errors; and how often it looks while a command is pending.
const std::chrono::milliseconds kPeriod(250);
const std::chrono::milliseconds kCommandLook(5);

// The requests of a polling round whose replies are read, never
// acknowledged: the status read "{" and the event read "q". Ending a round
// on a stop right after one of them loses nothing, as the controller
// deletes a batch only on "v0". Frames: "@", address, command, ...
bool IsReadRequest(const unsigned char* frame, std::size_t length)
{
    return length >= 3 && frame[0] == '@' && (frame[2] == 'q' || frame[2] == '{');
}

// A line whose port did not open at the start: opened through the site's
// opener when the scheduler tries it again.
class LateLine : public refhost::Transport {
public:
    LateLine(LineOpener opener, LineSpec line, refhost::Rs485Settings rs485)
        : opener_(std::move(opener)), line_(std::move(line)), rs485_(rs485)
    {
    }
    void open() override
    {
        if (!inner_)
            inner_ = opener_(line_, rs485_).transport;
        inner_->open();
    }
    void close() override
    {
        if (inner_)
            inner_->close();
    }
    bool isOpen() const override { return inner_ && inner_->isOpen(); }
    void send(const unsigned char* data, std::size_t len) override { opened().send(data, len); }
    std::size_t receive(unsigned char* buf, std::size_t capacity, std::chrono::milliseconds timeout) override
    {
        return opened().receive(buf, capacity, timeout);
    }
    void flush() override { opened().flush(); }
    void pause(std::chrono::milliseconds delay) override { opened().pause(delay); }

private:
    refhost::Transport& opened()
    {
        open();
        return *inner_;
    }

    LineOpener opener_;
    LineSpec line_;
    refhost::Rs485Settings rs485_;
    std::unique_ptr<refhost::Transport> inner_;
};

const std::chrono::milliseconds kFirstReopen(1000);

}  // namespace

struct Site::DeviceState {
    std::optional<DoorStates> doors;
    std::optional<std::chrono::steady_clock::time_point> lastRoundAt;
    uint64_t eventsStored = 0;
};

struct Site::PendingControl {
    std::size_t device = 0;
    ControlRequest request;
    std::future<refhost::ControlOutcome> scheduled;
    std::promise<ControlOutcome> promise;

    bool ready() const
    {
        return scheduled.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    ControlOutcome outcome()
    {
        ControlOutcome outcome;
        try {
            static_cast<refhost::ControlOutcome&>(outcome) = scheduled.get();
        } catch (const std::exception& error) {
            outcome.error = error.what();
        }
        return outcome;
    }
};

// Standard output while the plug-in writes on it: passed on to where it
// went before, or swallowed.
class Site::PluginOutput : public std::streambuf {
public:
    explicit PluginOutput(bool passOn) : passOn_(passOn), saved_(std::cout.rdbuf(this)) {}
    ~PluginOutput() override { std::cout.rdbuf(saved_); }
    void passOn(bool on) { passOn_ = on; }

protected:
    int overflow(int c) override
    {
        if (passOn_ && !traits_type::eq_int_type(c, traits_type::eof()))
            return saved_->sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override
    {
        return passOn_ ? saved_->sputn(text, n) : n;
    }
    int sync() override { return passOn_ ? saved_->pubsync() : 0; }

private:
    std::atomic<bool> passOn_;
    std::streambuf* saved_;
};

// On the notification thread. What one listener throws is dropped: the
// others still hear the notice.
template <typename Call>
void Site::tell(Call call)
{
    for (SiteListener* listener : listeners_) {
        try {
            call(*listener);
        } catch (const std::exception&) {
        }
    }
}

OpenedLine OpenSerialLine(const LineSpec& line, const refhost::Rs485Settings& rs485)
{
    if (line.identity.port.empty() || line.identity.port == kSimulatorPort)
        throw InputError(line.devices.front().name + ": port \"" + line.identity.port +
                         "\" is no device path, and no simulated controller serves it here");
    std::unique_ptr<refhost::Transport> transport(
        new refhost::SerialTransport(line.identity.port, line.identity.baud, rs485));
    transport->open();
    return OpenedLine{std::move(transport), "", {}};
}

Site::Site(SiteConfig config)
    : config_(std::move(config)), opener_(OpenSerialLine), notices_(kPeriod, kCommandLook)
{
    for (const DeviceSpec& device : config_.devices)
        devices_.push_back(device.identity);
    for (const LineSpec& line : config_.lines)
        lines_.push_back(line.identity);
    state_.resize(devices_.size());
    timeoutsTold_.assign(devices_.size(), 0);

    if (!config_.schedule.stopPoint)
        config_.schedule.stopPoint = IsReadRequest;
    if (config_.schedule.reopenFirst.count() == 0)
        config_.schedule.reopenFirst = kFirstReopen;
    lineErrors_.resize(lines_.size());
    scheduler_.reset(new refhost::Scheduler(config_.schedule));
    scheduler_->setEventObserver(
        [this](std::size_t device, const refhost::HostEvent& event) { onHostEvent(device, event); });
    scheduler_->setLineObserver(
        [this](std::size_t line, bool open, const std::string& error) { onLineState(line, open, error); });
    scheduler_->setDatabaseObserver([this](std::size_t device, const refhost::DatabaseHealth& health) {
        notices_.post([this, device, health] {
            tell([&](SiteListener& listener) { listener.onDatabaseFault(devices_[device], health); });
        });
    });
    if (config_.trace || config_.capture || config_.watchLines)
        scheduler_->setTraceObserver([this](const refhost::TraceRecord& record) { onTrace(record); });
}

Site::~Site()
{
    if (started_) {
        scheduler_->stop();
        wait();
    }
    scheduler_.reset();   // devices go before the plug-in that holds their code
    // Commands queued on a site that never ran end with it.
    for (const std::shared_ptr<PendingControl>& control : controls_)
        control->promise.set_value(control->outcome());
    controls_.clear();
    pluginOutput_.reset();
}

void Site::openCapture()
{
    if (linesOpen_)
        throw std::logic_error("the capture is opened before the lines");
    if (!config_.capture || capture_)
        return;
    capture_.reset(new LineCapture(config_.capture->absolute, config_.capture->given));
    capture_->onFailure([this](const std::string& why) {
        notices_.post([this, why] { tell([&](SiteListener& listener) { listener.onCaptureStopped(why); }); });
    });
}

void Site::loadPlugin()
{
    if (plugin_)
        return;
    plugin_ = refhost::PluginLibrary::Load(config_.plugin.empty() ? FirstPluginFound(config_.pluginCandidates)
                                                                  : config_.plugin);
}

void Site::enterWorkingFolder()
{
    if (started_)
        throw std::logic_error("the working folder is entered before the site starts");
    const UserPath& dir = config_.dir;
    if (::mkdir(dir.absolute.c_str(), 0775) != 0 && errno != EEXIST)
        throw InputError("cannot create the folder " + dir.given + ": " + std::strerror(errno));
    if (::chdir(dir.absolute.c_str()) != 0)
        throw InputError("cannot enter the folder " + dir.given + ": " + std::strerror(errno));
}

DatabaseSetupReport Site::setUpEventDatabase()
{
    // The table comes from the plug-in's registration in the schema catalog.
    if (!plugin_)
        throw std::logic_error("the plug-in is loaded before the event database is set up");
    DatabaseSetupReport report;
    try {
        report.setup = EnsureEventDatabase(config_.dir.absolute + "/" + kDatabaseFile);
    } catch (const std::exception& error) {
        report.error = error.what();
    }
    return report;
}

void Site::silencePluginOutput()
{
    // Before the scheduler puts its own capture of the plug-in's lines on
    // top (and takes it off at the end): the swaps nest.
    if (started_)
        throw std::logic_error("the plug-in's output is taken before the site starts");
    if (!pluginOutput_)
        pluginOutput_.reset(new PluginOutput(config_.trace));
}

void Site::setLineOpener(LineOpener opener)
{
    if (linesOpen_)
        throw std::logic_error("the line opener is set before the lines are opened");
    opener_ = std::move(opener);
}

void Site::openLines()
{
    if (!plugin_)
        throw std::logic_error("the plug-in is loaded before the lines are opened");
    if (linesOpen_)
        return;
    // Opened here so that a missing, busy or forbidden port is reported
    // before anything runs; what the user gave wrong stops everything.
    std::vector<OpenedLine> opening;
    std::exception_ptr firstFailure;
    for (const LineSpec& line : config_.lines) {
        try {
            opening.push_back(opener_(line, config_.rs485));
        } catch (const InputError&) {
            throw;
        } catch (const std::exception&) {
            if (!firstFailure)
                firstFailure = std::current_exception();
            opening.push_back(OpenedLine{std::unique_ptr<refhost::Transport>(new LateLine(opener_, line, config_.rs485)),
                                         "", {}});
        }
    }
    if (firstFailure && std::none_of(opening.begin(), opening.end(),
                                     [](const OpenedLine& line) { return line.transport->isOpen(); }))
        std::rethrow_exception(firstFailure);
    linesOpen_ = true;
    for (const LineSpec& line : config_.lines) {
        OpenedLine opened = std::move(opening.at(line.identity.index));
        const std::string port = opened.port.empty() ? line.identity.port : opened.port;
        const std::size_t index = scheduler_->addLine(port, std::move(opened.transport), line.identity.baud);
        lines_[index].port = port;
        lineFinished_.push_back(opened.finished);
        if (capture_)
            addCaptureInterface(index, line);
        for (const DeviceIdentity& device : line.devices) {
            devices_[device.index].port = port;
            try {
                scheduler_->addDevice(index, device.name, plugin_->createDevice(),
                                      config_.devices[device.index].settings);
            } catch (const std::exception& error) {
                throw InputError(device.name + ": the plug-in refused its configuration: " + error.what());
            }
        }
    }
    scheduler_->setCycleCheck([this](std::size_t line) { return lineFinished_[line] && lineFinished_[line](); });
}

void Site::addListener(SiteListener& listener)
{
    if (started_)
        throw std::logic_error("listeners are added before the site starts");
    listeners_.push_back(&listener);
}

void Site::start()
{
    if (!linesOpen_)
        throw std::logic_error("the lines are opened before the site starts");
    if (started_)
        return;
    started_ = true;
    if (config_.streamEvents)
        stream_.reset(new EventStream(config_.dir.absolute + "/" + kDatabaseFile));
    NotificationQueue::Hooks hooks;
    hooks.onMark = [this] { readEvents(); };
    hooks.onPeriod = [this] { checkPeriodically(); };
    hooks.inHurry = [this] { return deliverControls(); };
    notices_.start(std::move(hooks));
    // While the lines run, the plug-in's lines reach listeners as its log.
    if (pluginOutput_ && config_.trace)
        pluginOutput_->passOn(false);
    scheduler_->start();
}

void Site::stop()
{
    scheduler_->stop();
}

void Site::abort()
{
    scheduler_->abort();
}

void Site::wait()
{
    if (!started_ || waited_)
        return;
    waited_ = true;
    scheduler_->wait();
    if (pluginOutput_ && config_.trace)
        pluginOutput_->passOn(true);
    notices_.finish();   // what is queued, the last rows, outcomes and errors
    std::vector<std::shared_ptr<PendingControl>> left;
    {
        std::lock_guard<std::mutex> lock(controlsMutex_);
        noticesEnded_ = true;
        left.swap(controls_);
    }
    for (const std::shared_ptr<PendingControl>& control : left)
        control->promise.set_value(control->outcome());
}

bool Site::finished() const
{
    return scheduler_->finished();
}

std::future<ControlOutcome> Site::submit(const DeviceIdentity& device, const ControlRequest& request)
{
    if (device.index >= devices_.size())
        throw std::out_of_range("no device number " + std::to_string(device.index) + " at this site");
    std::shared_ptr<PendingControl> control = std::make_shared<PendingControl>();
    control->device = device.index;
    control->request = request;
    std::future<ControlOutcome> result = control->promise.get_future();
    control->scheduled = scheduler_->submitControl(device.index, request.code, request.argument);
    {
        std::lock_guard<std::mutex> lock(controlsMutex_);
        if (!noticesEnded_) {
            controls_.push_back(control);
            control.reset();
        }
    }
    if (control)   // the site has ended: no listener hears it
        control->promise.set_value(control->outcome());
    else
        notices_.wake();
    return result;
}

std::vector<DeviceStatus> Site::status() const
{
    const std::vector<refhost::DeviceProgress> progress = scheduler_->progress();
    std::lock_guard<std::mutex> lock(stateMutex_);
    std::vector<DeviceStatus> all;
    for (std::size_t i = 0; i < progress.size() && i < state_.size(); ++i) {
        DeviceStatus device{progress[i], state_[i].doors, state_[i].lastRoundAt, state_[i].eventsStored, true, ""};
        device.lineError = lineErrors_.at(devices_[i].line);
        device.lineOpen = device.lineError.empty();
        all.push_back(device);
    }
    return all;
}

uint64_t Site::completedRounds() const
{
    return scheduler_->completedRounds();
}

std::vector<std::string> Site::errors() const
{
    return scheduler_->errors();
}

bool Site::captureFailed() const
{
    return capture_ && capture_->failed();
}

// On a line's thread.
void Site::onHostEvent(std::size_t device, const refhost::HostEvent& event)
{
    switch (event.kind) {
    case refhost::HostEvent::Kind::Send:
        notices_.postMark();
        break;
    case refhost::HostEvent::Kind::SendSP: {
        const std::optional<DoorStates> doors = DoorStatesOfRecord(event.bytes);
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            DeviceState& state = state_[device];
            state.lastRoundAt = std::chrono::steady_clock::now();
            if (doors && state.doors != doors) {
                state.doors = doors;
                changed = true;
            }
        }
        // The events the round stored are told before its end.
        notices_.postMark();
        if (changed) {
            notices_.post([this, device, doors] {
                tell([&](SiteListener& listener) { listener.onDoorsChanged(devices_[device], *doors); });
            });
        }
        notices_.post(
            [this, device] { tell([&](SiteListener& listener) { listener.onRoundCompleted(devices_[device]); }); });
        break;
    }
    case refhost::HostEvent::Kind::Log:
        if (config_.trace && pluginOutput_) {
            notices_.post([this, device, text = event.text] {
                tell([&](SiteListener& listener) { listener.onPluginLog(devices_[device], text); });
            });
        }
        break;
    default:
        break;
    }
}

// On a line's thread.
void Site::onLineState(std::size_t line, bool open, const std::string& error)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        lineErrors_.at(line) = open ? std::string() : error;
    }
    notices_.post([this, line, open, error] {
        tell([&](SiteListener& listener) { listener.onLineState(lines_[line], open, error); });
    });
}

// On a line's thread: the capture is written at once, as close to the wire
// as it gets.
void Site::onTrace(const refhost::TraceRecord& record)
{
    if (capture_) {
        // What the host writes leaves through the interface: outbound.
        const bool sent = record.direction == refhost::TraceRecord::Direction::Sent;
        const auto note = captureNotes_.find({record.line, record.device});
        capture_->record(captureInterfaces_.at(record.line),
                         sent ? CaptureDirection::Outbound : CaptureDirection::Inbound, record.when,
                         record.bytes.data(), record.bytes.size(),
                         note != captureNotes_.end() ? note->second : record.device);
    }
    if (config_.trace || config_.watchLines)
        notices_.post([this, record] { tell([&](SiteListener& listener) { listener.onTraffic(record); }); });
}

void Site::addCaptureInterface(std::size_t line, const LineSpec& spec)
{
    std::string devices;
    for (const DeviceIdentity& device : spec.devices) {
        const std::string note = device.name + " (address " + std::to_string(device.address) + ")";
        captureNotes_[{line, device.name}] = note;
        devices += (devices.empty() ? "" : ", ") + note;
    }
    captureInterfaces_.resize(line + 1);
    captureInterfaces_[line] = capture_->addInterface(
        lines_[line].port, "velta36 host side, " + std::to_string(spec.identity.baud) + " baud: " + devices);
}

const DeviceIdentity& Site::identityOfDataId(int64_t dataId)
{
    for (const DeviceIdentity& device : devices_) {
        if (device.dataId == dataId)
            return device;
    }
    auto other = otherWriters_.find(dataId);
    if (other == otherWriters_.end()) {
        DeviceIdentity identity;
        identity.index = DeviceIdentity::kOtherWriter;
        identity.name = "data id " + std::to_string(dataId);
        identity.dataId = dataId;
        other = otherWriters_.emplace(dataId, identity).first;
    }
    return other->second;
}

// The notification thread from here on.

void Site::readEvents()
{
    if (!stream_)
        return;
    for (const StoredEvent& row : stream_->read()) {
        const DeviceIdentity& device = identityOfDataId(row.dataId);
        if (device.ofThisSite()) {
            std::lock_guard<std::mutex> lock(stateMutex_);
            ++state_[device.index].eventsStored;
        }
        tell([&](SiteListener& listener) { listener.onEventStored(device, row); });
    }
}

void Site::checkPeriodically()
{
    readEvents();
    noticeTimeouts();
    noticeLineErrors();
    deliverControls();
    tell([](SiteListener& listener) { listener.onTick(); });
}

bool Site::deliverControls()
{
    std::vector<std::shared_ptr<PendingControl>> done;
    bool more = false;
    {
        std::lock_guard<std::mutex> lock(controlsMutex_);
        for (auto it = controls_.begin(); it != controls_.end();) {
            if ((*it)->ready()) {
                done.push_back(*it);
                it = controls_.erase(it);
            } else {
                ++it;
            }
        }
        more = !controls_.empty();
    }
    for (const std::shared_ptr<PendingControl>& control : done) {
        const ControlOutcome outcome = control->outcome();
        control->promise.set_value(outcome);
        tell([&](SiteListener& listener) {
            listener.onControlOutcome(devices_[control->device], control->request, outcome);
        });
    }
    return more;
}

void Site::noticeTimeouts()
{
    const std::vector<refhost::DeviceProgress> progress = scheduler_->progress();
    for (std::size_t i = 0; i < progress.size() && i < timeoutsTold_.size(); ++i) {
        for (; timeoutsTold_[i] < progress[i].timeouts; ++timeoutsTold_[i])
            tell([&](SiteListener& listener) { listener.onRoundTimedOut(devices_[i]); });
    }
}

void Site::noticeLineErrors()
{
    const std::vector<std::string> errors = scheduler_->errors();
    for (; errorsTold_ < errors.size(); ++errorsTold_) {
        const std::string& error = errors[errorsTold_];
        // The scheduler starts each line's error with the line's name (its
        // port); the longest port that starts it is the line.
        const LineIdentity* stopped = nullptr;
        for (const LineIdentity& line : lines_) {
            if (error.compare(0, line.port.size(), line.port) == 0 &&
                (!stopped || line.port.size() > stopped->port.size()))
                stopped = &line;
        }
        if (stopped)
            tell([&](SiteListener& listener) { listener.onLineStopped(*stopped, error); });
    }
}

SiteListener::~SiteListener() = default;
void SiteListener::onEventStored(const DeviceIdentity&, const StoredEvent&) {}
void SiteListener::onDoorsChanged(const DeviceIdentity&, const DoorStates&) {}
void SiteListener::onRoundCompleted(const DeviceIdentity&) {}
void SiteListener::onRoundTimedOut(const DeviceIdentity&) {}
void SiteListener::onDatabaseFault(const DeviceIdentity&, const refhost::DatabaseHealth&) {}
void SiteListener::onLineStopped(const LineIdentity&, const std::string&) {}
void SiteListener::onLineState(const LineIdentity&, bool, const std::string&) {}
void SiteListener::onControlOutcome(const DeviceIdentity&, const ControlRequest&, const ControlOutcome&) {}
void SiteListener::onTraffic(const refhost::TraceRecord&) {}
void SiteListener::onPluginLog(const DeviceIdentity&, const std::string&) {}
void SiteListener::onCaptureStopped(const std::string&) {}
void SiteListener::onTick() {}

}  // namespace velta36site
