// velta36 run: poll the configured controllers, store their events, print
// them as they land and a summary at the end.
#include <chrono>
#include <thread>

#include "commands.h"
#include "event_database.h"
#include "output_format.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

class EventTail {
public:
    EventTail(HostSession& session, Console& console) : session_(session), console_(console), reader_()
    {
        startId_ = reader_.maxId();
        lastId_ = startId_;
    }

    // Prints the rows stored since the last call; returns how many.
    std::size_t print()
    {
        // The reader waits for a commit in progress (busy time-out); the
        // plug-in's saves likewise wait for it.
        const std::vector<StoredEvent> rows = reader_.after(lastId_);
        const bool several = session_.devices().size() > 1;
        for (const StoredEvent& row : rows) {
            console_.line((several ? session_.nameForDataId(row.dataId) + ": " : std::string()) + EventLine(row));
            lastId_ = row.id;
            ++printed_;
        }
        return rows.size();
    }

    uint64_t printed() const { return printed_; }

private:
    HostSession& session_;
    Console& console_;
    EventReader reader_;
    int64_t startId_ = 0;
    int64_t lastId_ = 0;
    uint64_t printed_ = 0;
};

void ShowProgress(HostSession& session, Console& console, uint64_t stored)
{
    uint64_t rounds = 0;
    for (const refhost::DeviceProgress& device : session.scheduler().progress())
        rounds += device.roundsCompleted;
    std::string text = "draining: " + std::to_string(stored) + " events stored";
    if (SimulatedLine* simulator = session.simulator())
        text += " of " + std::to_string(simulator->eventsSeeded());
    text += ", " + std::to_string(rounds) + " rounds";
    console.progress(text);
}

void PrintSummary(HostSession& session, Console& console, uint64_t stored, double seconds)
{
    const std::vector<refhost::DeviceProgress> progress = session.scheduler().progress();
    for (std::size_t i = 0; i < progress.size(); ++i) {
        const refhost::DeviceProgress& device = progress[i];
        console.line(device.name + " (" + session.placeOf(i) + "): " + std::to_string(device.roundsCompleted) +
                     " rounds completed of " + std::to_string(device.roundsStarted) + ", " +
                     std::to_string(device.timeouts) + " timed out; " + session.doorsOf(i));
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof(elapsed), "%.1f", seconds);
    console.line("summary: " + std::to_string(stored) + " events stored in " + kDatabaseFile + ", " +
                 std::to_string(session.scheduler().completedRounds()) + " rounds in " + elapsed + " s");
}

}  // namespace

int RunCommand(const RunOptions& options, Console& console)
{
    refhost::Scheduler::Options schedule;
    schedule.maxRounds = options.rounds;
    schedule.interval = std::chrono::milliseconds(static_cast<int64_t>(options.intervalSeconds * 1000));
    HostSession session(options.line, schedule, console, true);
    EventTail tail(session, console);

    // A simulated controller has a known end: once nothing is left on it.
    // A real one is polled until interrupted (or for --rounds).
    if (session.simulator() && options.rounds == 0) {
        SimulatedLine* simulator = session.simulator();
        session.scheduler().setCycleCheck([simulator](std::size_t) { return simulator->drained(); });
    }

    InstallStopSignals();
    const auto began = std::chrono::steady_clock::now();
    session.scheduler().start();
    int seenRequests = 0;
    while (!session.scheduler().finished()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int requests = StopRequests();
        if (requests != seenRequests) {
            if (seenRequests == 0) {
                console.line("stopping after the current exchange (interrupt again to stop at once)");
                session.scheduler().stop();
            } else {
                session.scheduler().abort();
            }
            seenRequests = requests;
        }
        if (tail.print() > 0)
            ShowProgress(session, console, tail.printed());
    }
    session.scheduler().wait();
    tail.print();
    console.clearProgress();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    PrintSummary(session, console, tail.printed(), seconds);
    int status = kExitOk;
    for (const std::string& error : session.scheduler().errors()) {
        console.error(error);
        status = kExitFailed;
    }
    return status;
}

}  // namespace velta36cli
