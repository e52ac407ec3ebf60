#include "refhost/scheduler.h"

#include <algorithm>
#include <stdexcept>

#include "ZRMSPDevice.h"

namespace refhost {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The line as the devices see it: every frame and chunk passes here, so the
// trace shows what really crossed the wire and when, and the scheduler knows
// when the last request left.
class WireTap : public Transport {
public:
    using Tap = std::function<void(TraceRecord::Direction, const unsigned char*, std::size_t)>;

    explicit WireTap(std::unique_ptr<Transport> inner) : inner_(std::move(inner)) {}

    void setTap(Tap tap) { tap_ = std::move(tap); }

    void open() override { inner_->open(); }
    void close() override { inner_->close(); }
    bool isOpen() const override { return inner_->isOpen(); }
    void send(const unsigned char* data, std::size_t len) override
    {
        try {
            inner_->send(data, len);
        } catch (...) {
            failed_ = true;
            throw;
        }
        ++sends_;
        lastSendAt_ = SteadyClock::now();
        lastSendBytes_ = len;
        lastSent_.assign(data, data + len);
        receivedSinceSend_ = 0;
        replySinceSend_.clear();
        if (tap_)
            tap_(TraceRecord::Direction::Sent, data, len);
    }
    std::size_t receive(unsigned char* buf, std::size_t capacity,
                        std::chrono::milliseconds timeout) override
    {
        std::size_t n = 0;
        try {
            n = inner_->receive(buf, capacity, timeout);
        } catch (...) {
            failed_ = true;
            throw;
        }
        receivedSinceSend_ += n;
        for (std::size_t i = 0; i < n && replySinceSend_.size() < kReplyKept; ++i)
            replySinceSend_.push_back(buf[i]);
        if (n > 0 && tap_)
            tap_(TraceRecord::Direction::Received, buf, n);
        return n;
    }
    void flush() override { inner_->flush(); }
    void pause(std::chrono::milliseconds delay) override { inner_->pause(delay); }

    uint64_t sends() const { return sends_; }
    // The line itself failed (as opposed to a device call).
    bool failed() const { return failed_; }
    SteadyClock::time_point lastSendAt() const { return lastSendAt_; }
    std::size_t lastSendBytes() const { return lastSendBytes_; }
    const std::vector<unsigned char>& lastSent() const { return lastSent_; }
    std::size_t receivedSinceSend() const { return receivedSinceSend_; }
    // The first bytes received since the last send.
    const std::vector<unsigned char>& replySinceSend() const { return replySinceSend_; }

private:
    std::unique_ptr<Transport> inner_;
    Tap tap_;
    uint64_t sends_ = 0;
    SteadyClock::time_point lastSendAt_;
    std::size_t lastSendBytes_ = 0;
    std::vector<unsigned char> lastSent_;
    std::size_t receivedSinceSend_ = 0;
    std::vector<unsigned char> replySinceSend_;
    static constexpr std::size_t kReplyKept = 64;
    bool failed_ = false;
};

}  // namespace

std::chrono::milliseconds ReplyTimeout(int32_t baud, std::size_t requestBytes,
                                       std::chrono::milliseconds turnaround, std::size_t replyBytes)
{
    const int64_t rate = baud > 0 ? baud : 9600;
    const int64_t bits = static_cast<int64_t>(requestBytes + replyBytes) * 10;
    const int64_t wireMs = (bits * 1000 + rate - 1) / rate;
    return std::chrono::milliseconds(wireMs) + turnaround;
}

struct Scheduler::Control {
    int32_t code;
    std::string argument;
    std::promise<ControlOutcome> promise;
};

struct Scheduler::Device {
    std::string name;
    std::size_t index = 0;
    std::size_t line = 0;
    DeviceHost host;
    DeviceHandle handle;
    std::deque<Control> queue;    // guarded by Scheduler::mutex_
    DeviceProgress progress;      // guarded by Scheduler::mutex_
    DatabaseHealthWatch database; // on the line's thread only
};

struct Scheduler::Line {
    std::string name;
    std::size_t index = 0;
    int32_t baud = 9600;
    std::unique_ptr<WireTap> wire;
    std::shared_ptr<ZRMController> controller;
    std::vector<Device*> devices;
    std::string current;   // device whose exchange is running (for the trace)
    Device* active = nullptr;   // the device the line's thread is calling into
    std::thread thread;
    bool done = false;     // guarded by Scheduler::mutex_
};

Scheduler::Scheduler(Options options) : options_(options) {}

Scheduler::~Scheduler()
{
    stop();
    wait();
}

std::size_t Scheduler::addLine(const std::string& name, std::unique_ptr<Transport> transport, int32_t baud)
{
    if (started_)
        throw std::logic_error("lines are added before the scheduler starts");
    std::unique_ptr<Line> line(new Line);
    line->name = name;
    line->index = lines_.size();
    line->baud = baud;
    line->wire.reset(new WireTap(std::move(transport)));
    line->controller = std::make_shared<ZRMController>();
    Line* raw = line.get();
    line->wire->setTap([this, raw](TraceRecord::Direction direction, const unsigned char* data,
                                   std::size_t len) {
        if (!traceObserver_)
            return;
        TraceRecord record{direction, std::chrono::system_clock::now(), raw->index, raw->current,
                           std::vector<unsigned char>(data, data + len)};
        traceObserver_(record);
    });
    lines_.push_back(std::move(line));
    return raw->index;
}

std::size_t Scheduler::addDevice(std::size_t lineIndex, const std::string& name, DeviceHandle handle,
                                 const Json::Value& config)
{
    if (started_)
        throw std::logic_error("devices are added before the scheduler starts");
    if (lineIndex >= lines_.size())
        throw std::out_of_range("no line number " + std::to_string(lineIndex));
    if (!handle)
        throw std::invalid_argument("no device given for " + name);
    Line& line = *lines_[lineIndex];
    std::unique_ptr<Device> device(new Device);
    device->name = name;
    device->index = devices_.size();
    device->line = lineIndex;
    device->progress.name = name;
    device->progress.line = lineIndex;
    device->host.setTransport(line.wire.get());
    Device* raw = device.get();
    device->host.setObserver([this, raw](const HostEvent& event) {
        if (event.kind == HostEvent::Kind::Send || event.kind == HostEvent::Kind::Log)
            watchDatabase(*raw, event);
        if (event.kind == HostEvent::Kind::Send) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++raw->progress.framesSent;
        } else if (event.kind == HostEvent::Kind::SendSP) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++raw->progress.roundsCompleted;
            ++completedRounds_;
        }
        if (eventObserver_)
            eventObserver_(raw->index, event);
    });
    device->handle = std::move(handle);
    device->host.attach(*device->handle);
    device->handle->Init(line.controller, 0, config);
    device->handle->InitSetting(config);
    line.devices.push_back(raw);
    devices_.push_back(std::move(device));
    return raw->index;
}

void Scheduler::setEventObserver(EventObserver observer)
{
    eventObserver_ = std::move(observer);
}

void Scheduler::setTraceObserver(TraceObserver observer)
{
    traceObserver_ = std::move(observer);
}

void Scheduler::setDatabaseObserver(DatabaseObserver observer)
{
    databaseObserver_ = std::move(observer);
}

void Scheduler::setCycleCheck(CycleCheck check)
{
    cycleCheck_ = std::move(check);
}

void Scheduler::setLineObserver(LineObserver observer)
{
    lineObserver_ = std::move(observer);
}

bool Scheduler::openLine(Line& line)
{
    std::chrono::milliseconds wait = options_.reopenFirst;
    std::string told;
    for (;;) {
        try {
            line.wire->open();
            if (!told.empty() && lineObserver_)
                lineObserver_(line.index, true, "");
            return true;
        } catch (const std::exception& error) {
            if (wait.count() <= 0)
                throw;
            if (told != error.what()) {
                told = error.what();
                if (lineObserver_)
                    lineObserver_(line.index, false, told);
            }
        }
        // Commands cannot wait for a port that may never come.
        failPending(line, line.name + ": the port is not open (" + told + ")");
        const SteadyClock::time_point until = SteadyClock::now() + wait;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const bool woken = wake_.wait_until(lock, until, [this, &line] {
                if (stopping_)
                    return true;
                for (const Device* device : line.devices) {
                    if (!device->queue.empty())
                        return true;
                }
                return false;
            });
            if (stopping_)
                return false;
            if (!woken)
                break;
            lock.unlock();
            failPending(line, line.name + ": the port is not open (" + told + ")");
            lock.lock();
        }
        wait = std::min(wait * 2, options_.reopenLongest);
    }
}

void Scheduler::watchDatabase(Device& device, const HostEvent& event)
{
    const DatabaseHealthWatch::Change change =
        event.kind == HostEvent::Kind::Log
            ? device.database.onLogLine(event.text)
            : device.database.onFrameSent(event.bytes.data(), event.bytes.size());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device.progress.database = device.database.health();
    }
    if (change != DatabaseHealthWatch::Change::None && databaseObserver_)
        databaseObserver_(device.index, device.database.health());
}

void Scheduler::start()
{
    if (started_)
        return;
    started_ = true;
    logCapture_.reset(new DeviceLogCapture);
    for (std::unique_ptr<Line>& line : lines_) {
        Line* raw = line.get();
        raw->thread = std::thread([this, raw] { runLine(*raw); });
    }
}

void Scheduler::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void Scheduler::abort()
{
    aborting_ = true;
    stop();
}

void Scheduler::wait()
{
    for (std::unique_ptr<Line>& line : lines_) {
        if (line->thread.joinable())
            line->thread.join();
    }
    logCapture_.reset();
}

bool Scheduler::finished() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Line>& line : lines_) {
        if (!line->done)
            return false;
    }
    return started_;
}

std::future<ControlOutcome> Scheduler::submitControl(std::size_t index, int32_t code,
                                                     const std::string& argument)
{
    if (index >= devices_.size())
        throw std::out_of_range("no device number " + std::to_string(index));
    Control control{code, argument, std::promise<ControlOutcome>()};
    std::future<ControlOutcome> result = control.promise.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Device& device = *devices_[index];
        if (lines_[device.line]->done) {
            control.promise.set_exception(std::make_exception_ptr(
                std::runtime_error("the line of " + device.name + " has stopped")));
            return result;
        }
        device.queue.push_back(std::move(control));
    }
    wake_.notify_all();
    return result;
}

std::vector<DeviceProgress> Scheduler::progress() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<DeviceProgress> all;
    for (const std::unique_ptr<Device>& device : devices_)
        all.push_back(device->progress);
    return all;
}

uint64_t Scheduler::completedRounds() const
{
    return completedRounds_;
}

std::vector<std::string> Scheduler::errors() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

ZRMSPDevice& Scheduler::device(std::size_t index)
{
    return *devices_.at(index)->handle;
}

std::size_t Scheduler::deviceCount() const
{
    return devices_.size();
}

void Scheduler::runLine(Line& line)
{
    // The log lines written on this thread belong to the device it is
    // calling into.
    DeviceLogSink sink([&line](const std::string& text) {
        if (line.active != nullptr)
            line.active->host.notify(HostEvent{HostEvent::Kind::Log, "", text, {}});
    });
    std::string failure;
    try {
        const bool opened = openLine(line);
        while (opened && !stopping_) {
            runCycle(line);
            if (stopping_ || lineDone(line))
                break;
            if (cycleCheck_ && cycleCheck_(line.index))
                break;
            if (!waitBetweenCycles(line))
                break;
        }
        // Controls queued while the last exchange ran still get their turn,
        // unless the host is being torn down in a hurry.
        if (opened && !aborting_) {
            for (Device* device : line.devices)
                runControls(line, *device);
        }
    } catch (const std::exception& error) {
        // Line errors usually name the device already.
        const std::string what = error.what();
        failure = what.compare(0, line.name.size(), line.name) == 0 ? what : line.name + ": " + what;
    }
    line.wire->close();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure.empty())
            errors_.push_back(failure);
        line.done = true;
    }
    failPending(line, failure.empty() ? "the line of the device has stopped" : failure);
}

void Scheduler::runCycle(Line& line)
{
    for (Device* device : line.devices) {
        if (stopping_)
            return;
        runControls(line, *device);
        if (stopping_ || !options_.poll)
            continue;
        bool wanted = true;
        if (options_.maxRounds > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            wanted = device->progress.roundsCompleted < options_.maxRounds;
        }
        if (wanted)
            runRound(line, *device);
    }
}

void Scheduler::runControls(Line& line, Device& device)
{
    for (;;) {
        Control control;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (device.queue.empty() || aborting_)
                return;
            control = std::move(device.queue.front());
            device.queue.pop_front();
        }
        line.current = device.name;
        line.active = &device;
        ZRMSPDevice& dev = *device.handle;
        try {
            ControlOutcome outcome;
            const uint64_t before = line.wire->sends();
            int outRet = 0;
            outcome.ioResult = dev.DeviceIoControl(control.code, control.argument.data(),
                                                   static_cast<int>(control.argument.size()), nullptr, 0,
                                                   outRet);
            outcome.started = line.wire->sends() > before;
            if (outcome.started)
                outcome.timedOut = !driveExchange(line, device, false);
            outcome.framesSent = static_cast<uint32_t>(line.wire->sends() - before);
            if (outcome.started) {
                outcome.lastFrame = line.wire->lastSent();
                outcome.lastReply = line.wire->replySinceSend();
            }
            int32_t value = -1;
            int returned = 0;
            dev.DeviceIoControl(options_.resultQueryCode, nullptr, 0, &value, sizeof(value), returned);
            if (returned == static_cast<int>(sizeof(value)))
                outcome.controlResult = value;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++device.progress.controlsRun;
            }
            control.promise.set_value(outcome);
        } catch (const std::exception&) {
            control.promise.set_exception(std::current_exception());
            // A dead line ends the line; a command the device refused by
            // throwing only fails that command.
            if (line.wire->failed())
                throw;
        }
    }
}

void Scheduler::runRound(Line& line, Device& device)
{
    line.current = device.name;
    line.active = &device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++device.progress.roundsStarted;
    }
    ZRMSPDevice& dev = *device.handle;
    const uint64_t before = line.wire->sends();
    dev.RefreshStatus();
    if (line.wire->sends() == before) {
        // Nothing asked, nothing to wait for.
        if (dev.IsProcessing())
            dev.Reset();
        return;
    }
    driveExchange(line, device, true);
}

void Scheduler::dropReplyInFlight(Line& line)
{
    const SteadyClock::time_point deadline =
        line.wire->lastSendAt() + ReplyTimeout(line.baud, line.wire->lastSendBytes(), options_.turnaround);
    unsigned char chunk[512];
    while (!aborting_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return;
        const std::size_t n = line.wire->receive(chunk, sizeof(chunk), std::min(left, std::chrono::milliseconds(100)));
        if (n > 0 && chunk[n - 1] == '/')   // every reply ends with '/'
            return;
    }
}

bool Scheduler::atStopPoint(const Line& line) const
{
    const std::vector<unsigned char>& frame = line.wire->lastSent();
    if (!options_.stopPoint || frame.empty() || !options_.stopPoint(frame.data(), frame.size()))
        return false;
    if (stopping_)
        return true;
    // A command waiting (a door to open) goes before the rest of a long
    // drain; the next round reads on where this one ended.
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Device* device : line.devices) {
        if (!device->queue.empty())
            return true;
    }
    return false;
}

bool Scheduler::driveExchange(Line& line, Device& device, bool round)
{
    ZRMSPDevice& dev = *device.handle;
    const bool polling = dev.IsProcessing();
    unsigned char chunk[512];
    for (;;) {
        if (round && atStopPoint(line)) {
            // Stopping, or a command waits: what is stored has been
            // acknowledged, the reply awaited would only be read. End
            // here; the controller keeps it. Its reply, already on its way,
            // is let through and dropped, so that the next frame (a
            // command, or another program's) meets a quiet line.
            dropReplyInFlight(line);
            dev.Reset();
            line.wire->flush();
            return false;
        }
        const SteadyClock::time_point deadline =
            line.wire->lastSendAt() + ReplyTimeout(line.baud, line.wire->lastSendBytes(), options_.turnaround);
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline || aborting_) {
            // The controller went quiet (or the host is going away): end the
            // exchange ourselves and drop whatever half reply is left, so the
            // next request starts on a clean line.
            dev.Reset();
            line.wire->flush();
            std::lock_guard<std::mutex> lock(mutex_);
            ++device.progress.timeouts;
            return false;
        }
        // Short slices, so an abort is noticed while a slow reply trickles in.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const std::size_t n =
            line.wire->receive(chunk, sizeof(chunk), std::min(left, std::chrono::milliseconds(100)));
        if (n == 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            device.progress.bytesReceived += n;
        }
        const int more = dev.process(chunk, static_cast<unsigned int>(n));
        if (more == 0 || (polling && !dev.IsProcessing())) {
            if (dev.IsProcessing()) {
                // Ended on a reply the device threw away: close the exchange
                // and discard any rest of it.
                dev.Reset();
                line.wire->flush();
            }
            return true;
        }
    }
}

void Scheduler::failPending(Line& line, const std::string& why)
{
    std::deque<Control> orphans;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Device* device : line.devices) {
            for (Control& control : device->queue)
                orphans.push_back(std::move(control));
            device->queue.clear();
        }
    }
    for (Control& control : orphans)
        control.promise.set_exception(std::make_exception_ptr(std::runtime_error(why)));
}

bool Scheduler::waitBetweenCycles(Line& line)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this, &line] {
        if (stopping_)
            return true;
        for (Device* device : line.devices) {
            if (!device->queue.empty())
                return true;
        }
        return false;
    };
    if (!options_.poll)
        wake_.wait(lock, ready);
    else if (options_.interval.count() > 0)
        wake_.wait_for(lock, options_.interval, ready);
    return !stopping_;
}

bool Scheduler::lineDone(const Line& line) const
{
    if (!options_.poll || options_.maxRounds == 0)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Device* device : line.devices) {
        if (device->progress.roundsCompleted < options_.maxRounds)
            return false;
    }
    return true;
}

}  // namespace refhost
