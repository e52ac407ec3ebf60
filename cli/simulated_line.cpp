#include "simulated_line.h"

#include <ctime>

#include "velta36sim/event_generator.h"

namespace velta36cli {

namespace {

// The built-in controller has stored yesterday's traffic, as one found in
// the field in the morning would have.
velta36sim::CivilTime Yesterday()
{
    const std::time_t now = std::time(nullptr) - 24 * 60 * 60;
    std::tm local{};
    localtime_r(&now, &local);
    velta36sim::CivilTime day;
    day.year = local.tm_year + 1900;
    day.month = local.tm_mon + 1;
    day.day = local.tm_mday;
    return day;
}

}  // namespace

SimulatedLine::SimulatedLine(const std::vector<SimulatedControllerSpec>& controllers, int32_t baud)
    : line_(clock_), baud_(baud)
{
    for (const SimulatedControllerSpec& spec : controllers) {
        velta36sim::ControllerOptions options;
        options.address = spec.address;
        options.doors = spec.doors;
        options.faultSeed = spec.seed;
        options.faults = spec.faults;
        velta36sim::SimulatedController& controller = line_.Add(options);
        velta36sim::GeneratorOptions generator = velta36sim::RealisticDay(spec.seed, spec.doors);
        const velta36sim::CivilTime yesterday = Yesterday();
        if (velta36sim::IsValid(yesterday))
            generator.day = yesterday;
        if (spec.events >= 0)
            generator.count = spec.events;
        const std::vector<velta36sim::EventRecord> records =
            velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));
        controller.controller().StoreEvents(records);
        seeded_ += records.size();
    }
}

SimulatedLine::~SimulatedLine()
{
    stop();
}

std::string SimulatedLine::start(std::function<void(velta36sim::TapDirection, const char*, std::size_t)> tap)
{
    velta36sim::ServerOptions options;
    options.baud = baud_;
    options.tap = std::move(tap);
    server_.reset(new velta36sim::LineServer(line_, options));
    return server_->StartPty();
}

void SimulatedLine::stop()
{
    if (server_)
        server_->Stop();
}

bool SimulatedLine::drained()
{
    bool empty = true;
    for (int32_t address : line_.Addresses()) {
        line_.With(address, [&empty](velta36sim::SimulatedController& controller) {
            const velta36sim::Controller& state = controller.controller();
            empty = empty && state.StoredEvents().empty() && state.OutstandingBatch() == 0;
        });
    }
    return empty;
}

}  // namespace velta36cli
