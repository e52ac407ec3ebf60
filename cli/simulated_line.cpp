#include "simulated_line.h"

#include <ctime>

#include "velta36sim/clock.h"
#include "velta36sim/event_generator.h"
#include "velta36sim/faults.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

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

velta36sim::FaultRates RatesOf(const SimulatedFaults& faults)
{
    velta36sim::FaultRates rates;
    rates.splitReply = faults.splitReply;
    rates.noiseBeforeReply = faults.noiseBeforeReply;
    rates.corruptChecksum = faults.corruptChecksum;
    rates.refuseCommand = faults.refuseCommand;
    rates.dropReply = faults.dropReply;
    rates.loseCommand = faults.loseCommand;
    return rates;
}

}  // namespace

struct SimulatedLine::Controllers {
    explicit Controllers(int32_t baud) : line(clock), baud(baud) {}

    velta36sim::SteadyClock clock;
    velta36sim::SharedLine line;
    std::unique_ptr<velta36sim::LineServer> server;
    int32_t baud;
    uint64_t seeded = 0;
    std::vector<int32_t> addresses;
};

SimulatedLine::SimulatedLine(const std::vector<SimulatedControllerSpec>& controllers, int32_t baud)
    : controllers_(new Controllers(baud))
{
    for (const SimulatedControllerSpec& spec : controllers) {
        velta36sim::ControllerOptions options;
        options.address = spec.address;
        options.doors = spec.doors;
        options.faultSeed = spec.seed;
        options.faults = RatesOf(spec.faults);
        velta36sim::SimulatedController& controller = controllers_->line.Add(options);
        velta36sim::GeneratorOptions generator = velta36sim::RealisticDay(spec.seed, spec.doors);
        const velta36sim::CivilTime yesterday = Yesterday();
        if (velta36sim::IsValid(yesterday))
            generator.day = yesterday;
        if (spec.events >= 0)
            generator.count = spec.events;
        const std::vector<velta36sim::EventRecord> records =
            velta36sim::RecordsOf(velta36sim::GenerateEvents(generator));
        controller.controller().StoreEvents(records);
        controllers_->seeded += records.size();
        controllers_->addresses.push_back(spec.address);
    }
}

SimulatedLine::~SimulatedLine()
{
    stop();
}

std::string SimulatedLine::start(Tap tap)
{
    velta36sim::ServerOptions options;
    options.baud = controllers_->baud;
    if (tap) {
        options.tap = [tap](velta36sim::TapDirection direction, const char* data, std::size_t length) {
            tap(direction == velta36sim::TapDirection::ToControllers, data, length);
        };
    }
    controllers_->server.reset(new velta36sim::LineServer(controllers_->line, options));
    return controllers_->server->StartPty();
}

void SimulatedLine::stop()
{
    if (controllers_->server)
        controllers_->server->Stop();
}

bool SimulatedLine::drained()
{
    bool empty = true;
    for (int32_t address : controllers_->line.Addresses()) {
        controllers_->line.With(address, [&empty](velta36sim::SimulatedController& controller) {
            const velta36sim::Controller& state = controller.controller();
            empty = empty && state.StoredEvents().empty() && state.OutstandingBatch() == 0;
        });
    }
    return empty;
}

uint64_t SimulatedLine::eventsSeeded() const
{
    return controllers_->seeded;
}

std::vector<SimulatedControllerReport> SimulatedLine::report()
{
    std::vector<SimulatedControllerReport> reports;
    for (int32_t address : controllers_->addresses) {
        controllers_->line.With(address, [&reports, address](velta36sim::SimulatedController& controller) {
            const velta36sim::Controller& state = controller.controller();
            const velta36sim::Statistics stats = controller.Stats();
            SimulatedControllerReport report;
            report.address = address;
            report.framesHeard = stats.framesHeard;
            report.acknowledged = state.Counts().acknowledged;
            report.left = state.StoredEvents().size();
            report.cardSlots = state.Cards().size();
            report.faultsInjected = stats.faults.Total();
            reports.push_back(report);
        });
    }
    return reports;
}

}  // namespace velta36cli
