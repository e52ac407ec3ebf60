// velta36 run: poll the configured controllers, store their events, print
// them as they land and a summary at the end. The site does the work; the
// console, the progress line and the metrics file listen to it.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "built_in_line.h"
#include "commands.h"
#include "console_listener.h"
#include "control_socket.h"
#include "line_tally.h"
#include "open_site.h"
#include "output_format.h"
#include "progress_line.h"
#include "run_metrics.h"
#include "run_upstream.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

void PrintSummary(const velta36site::Site& site, Console& console, uint64_t stored, double seconds,
                  const LineTally& tally)
{
    const std::vector<velta36site::DeviceStatus> status = site.status();
    for (std::size_t i = 0; i < status.size(); ++i) {
        const refhost::DeviceProgress& device = status[i].progress;
        const velta36site::DeviceIdentity& identity = site.devices()[i];
        console.line(identity.name + " (" + identity.place() + "): " + std::to_string(device.roundsCompleted) +
                     " rounds completed of " + std::to_string(device.roundsStarted) + ", " +
                     std::to_string(device.timeouts) + " timed out; " +
                     DoorStatesText(identity.doors, status[i].doors));
        const LineTally::Counts counts = tally.counts(identity.name);
        if (counts.storedAgain > 0)
            console.line(identity.name + ": " + std::to_string(counts.storedAgain) +
                         " rows stored again: the controller missed \"v0\" and sent a stored batch again");
        if (counts.openingsLeftOut > 0)
            console.line(identity.name + ": " + std::to_string(counts.openingsLeftOut) +
                         " door openings not stored: the alarm rule leaves out a door open since over a minute"
                         " and one opened during an alarm");
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof(elapsed), "%.1f", seconds);
    console.line("summary: " + std::to_string(stored) + " events stored in " + velta36site::kDatabaseFile + ", " +
                 std::to_string(site.completedRounds()) + " rounds in " + elapsed + " s");
}

}  // namespace

int RunCommand(const RunOptions& options, Console& console)
{
    // Its path is checked first, and taken from the folder the tool started
    // in (the site moves to the database's folder).
    std::optional<MetricsFile> metricsFile;
    if (options.metrics)
        metricsFile.emplace(*options.metrics);
    velta36site::SiteConfig config = ReadLineConfig(options.line);
    config.schedule.maxRounds = options.rounds;
    config.schedule.interval = std::chrono::milliseconds(static_cast<int64_t>(options.intervalSeconds * 1000));
    config.watchLines = true;   // for the summary's repeats and left-out openings
    std::unique_ptr<RunUpstream> upstream = RunUpstream::FromSettings(options.mqtt, config.mqtt);

    // A simulated controller has a known end: once nothing is left on it.
    // A real one is polled until interrupted (or for --rounds).
    BuiltInLine builtIn(console, options.rounds == 0);
    velta36site::Site site(config);
    site.setLineOpener(builtIn.opener());
    OpenSite(site, console, true);

    ConsoleListener printer(console, site);
    ProgressLine progress(console, site,
                          builtIn.simulator() ? std::optional<uint64_t>(builtIn.simulator()->eventsSeeded())
                                              : std::nullopt);
    LineTally tally;
    site.addListener(printer);
    site.addListener(progress);
    site.addListener(tally);
    std::unique_ptr<RunMetrics> metrics;
    if (metricsFile) {
        metrics.reset(new RunMetrics(*metricsFile, site, console));
        site.addListener(*metrics);
    }
    if (upstream) {
        upstream->attach(site, console);
        if (metrics)
            metrics->addUpstream([&upstream] { return upstream->metrics(); });
    }

    // The listeners hear the site until it has ended, whatever way this
    // function is left.
    struct EndFirst {
        velta36site::Site& site;
        ~EndFirst()
        {
            site.stop();
            site.wait();
        }
    } endFirst{site};

    // Commands of the tool run beside the rounds, through the site; a
    // site that cannot listen still polls.
    std::unique_ptr<ControlSocketServer> controlSocket;
    const std::string socketPath = ControlSocketPath(site.config().dir.absolute);
    try {
        controlSocket.reset(new ControlSocketServer(site, socketPath));
    } catch (const std::exception& error) {
        console.line("commands cannot reach this run: " + std::string(error.what()));
    }

    InstallStopSignals();
    const auto began = std::chrono::steady_clock::now();
    if (upstream)
        upstream->start();
    site.start();
    int seenRequests = 0;
    while (!site.finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int requests = StopRequests();
        if (requests != seenRequests) {
            if (seenRequests == 0) {
                console.line("stopping once the batch in hand is stored and acknowledged (interrupt again to stop at once)");
                site.stop();
            } else {
                site.abort();
            }
            seenRequests = requests;
        }
    }
    site.wait();
    if (upstream)
        upstream->stop();
    if (metrics)
        metrics->update(true);
    console.clearProgress();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    PrintSummary(site, console, printer.printed(), seconds, tally);
    int status = kExitOk;
    for (const std::string& error : site.errors()) {
        console.error(error);
        status = kExitFailed;
    }
    // Events a device could not store wait on its controller: the run did
    // not do all it was asked.
    const std::vector<velta36site::DeviceStatus> ended = site.status();
    for (std::size_t i = 0; i < ended.size(); ++i) {
        const refhost::DatabaseHealth& database = ended[i].progress.database;
        if (!ended[i].lineOpen) {
            console.error(site.devices()[i].name + ": not polled, its port never opened (" + ended[i].lineError + ")");
            status = kExitFailed;
        }
        if (database.faulty) {
            console.error(site.devices()[i].name + ": events not stored at the end (" + database.lastError +
                          "); they wait on the controller");
            status = kExitFailed;
        }
    }
    if (site.captureFailed() || (metrics && metrics->failed()))
        status = kExitFailed;
    return status;
}

}  // namespace velta36cli
