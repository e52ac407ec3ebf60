// velta36-simulator: one or more simulated controllers behind a
// pseudo-terminal, served until interrupted.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <pthread.h>

#include <CLI/CLI.hpp>

#include "velta36sim/event_generator.h"
#include "velta36sim/line_server.h"
#include "velta36sim/shared_line.h"

using namespace velta36sim;

namespace {

void PrintStatistics(std::ostream& out, const char* title, const Statistics& s)
{
    out << title << "\n"
        << "  frames answered:          " << s.framesHeard << "\n"
        << "  frames rejected:          " << s.framesRejected << "\n"
        << "  events stored:            " << s.events.stored << "\n"
        << "  events handed out:        " << s.events.handedOut << "\n"
        << "  events acknowledged:      " << s.events.acknowledged << "\n"
        << "  events re-sent:           " << s.events.resent << "\n"
        << "  re-sent after lost ack:   " << s.events.resentAfterLostAck << "\n"
        << "  faults: split replies     " << s.faults.splitReplies << "\n"
        << "          noise bursts      " << s.faults.noiseBursts << "\n"
        << "          bad checksums     " << s.faults.corruptedChecksums << "\n"
        << "          refused commands  " << s.faults.refusedCommands << "\n"
        << "          dropped replies   " << s.faults.droppedReplies << "\n"
        << "          lost commands     " << s.faults.lostCommands << "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Simulated velta36 controllers on a pseudo-terminal"};
    int32_t doors = 2;
    std::vector<int32_t> addresses{0};
    int32_t events = 20;
    uint64_t seed = 1;
    int32_t baud = 0;
    bool realisticDay = false;
    bool trackingIndependent = false;
    FaultRates rates;
    app.add_option("--doors", doors, "doors per controller")->check(CLI::Range(1, 2));
    app.add_option("--address", addresses, "controller address; repeat for several on one line")
        ->check(CLI::Range(0, 79));
    app.add_option("--events", events, "events stored at start in each controller")->check(CLI::Range(0, 100000));
    app.add_option("--seed", seed, "seed of the events and the faults");
    app.add_option("--baud", baud, "pace replies at this baud rate (0: unpaced)")->check(CLI::Range(0, 4000000));
    app.add_flag("--realistic-day", realisticDay, "store the realistic-day preset instead of --events");
    app.add_flag("--tracking-independent", trackingIndependent,
                 "leave out door openings (their decoding depends on earlier events)");
    const auto rate = CLI::Range(0.0, 1.0);
    app.add_option("--split-rate", rates.splitReply, "replies split into chunks")->check(rate);
    app.add_option("--noise-rate", rates.noiseBeforeReply, "noise bytes before replies")->check(rate);
    app.add_option("--corrupt-rate", rates.corruptChecksum, "data replies with a bad checksum")->check(rate);
    app.add_option("--refuse-rate", rates.refuseCommand, "acknowledged commands refused")->check(rate);
    app.add_option("--drop-reply-rate", rates.dropReply, "replies lost after the command was carried out")->check(rate);
    app.add_option("--lose-command-rate", rates.loseCommand, "commands lost on the line")->check(rate);
    CLI11_PARSE(app, argc, argv);

    // Block the stop signals before the server thread starts, so that only
    // sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SteadyClock clock;
    SharedLine line(clock);
    try {
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            ControllerOptions options;
            options.address = addresses[i];
            options.doors = doors;
            options.faults = rates;
            options.faultSeed = seed + 1000003ULL * (i + 1);
            SimulatedController& controller = line.Add(options);
            GeneratorOptions generator = realisticDay ? RealisticDay(seed + i, doors) : GeneratorOptions();
            if (!realisticDay) {
                generator.seed = seed + i;
                generator.count = events;
                generator.doors = doors;
            }
            generator.trackingIndependentOnly = trackingIndependent;
            controller.controller().StoreEvents(RecordsOf(GenerateEvents(generator)));
        }
    } catch (const std::exception& e) {
        std::cerr << "velta36-simulator: " << e.what() << std::endl;
        return 2;
    }

    ServerOptions serverOptions;
    serverOptions.baud = baud;
    LineServer server(line, serverOptions);
    try {
        std::cout << server.StartPty() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "velta36-simulator: " << e.what() << std::endl;
        return 1;
    }

    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();

    for (int32_t address : line.Addresses()) {
        const std::string title = "controller " + std::to_string(address) + ":";
        PrintStatistics(std::cout, title.c_str(), line.Stats(address));
    }
    std::cout << std::flush;
    return 0;
}
