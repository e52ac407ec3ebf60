// velta36 run: poll the configured controllers, store their events, print
// them as they land and a summary at the end.
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <thread>

#include "commands.h"
#include "event_database.h"
#include "output_format.h"
#include "run_metrics.h"
#include "stop_signals.h"

namespace velta36cli {

namespace {

// Lists the rows stored while the tool runs. Reading is best effort: while
// the database is locked, missing or being rebuilt nothing is listed, and
// the rows show once it can be read again. Faults are reported per device
// from the plug-in's saves (HostSession), not from here.
class EventTail {
public:
    EventTail(HostSession& session, Console& console, RunMetrics* metrics)
        : session_(session), console_(console), metrics_(metrics)
    {
        open();
        lastId_ = reader_ ? readMaxId() : 0;
    }

    // Prints the rows stored since the last call; returns how many.
    std::size_t print()
    {
        if (fileReplaced())
            reader_.reset();
        if (!reader_)
            open();
        if (!reader_)
            return 0;
        try {
            // A table made anew (or a new file) numbers its rows from 1
            // again: everything in it is new.
            if (reader_->maxId() < lastId_)
                lastId_ = 0;
            const std::vector<StoredEvent> rows = reader_->after(lastId_);
            const bool several = session_.devices().size() > 1;
            for (const StoredEvent& row : rows) {
                console_.line((several ? session_.nameForDataId(row.dataId) + ": " : std::string()) +
                              EventLine(row));
                lastId_ = row.id;
                ++printed_;
                if (metrics_)
                    metrics_->countStored(row.dataId);
            }
            return rows.size();
        } catch (const std::exception&) {
            reader_.reset();   // opened afresh next time
            return 0;
        }
    }

    uint64_t printed() const { return printed_; }

private:
    // Short waits: the caller also watches for interrupts.
    static const int kReadWaitMs = 100;

    void open()
    {
        try {
            reader_.reset(new EventReader(kDatabaseFile, kReadWaitMs));
            struct stat info;
            inode_ = ::stat(kDatabaseFile, &info) == 0 ? info.st_ino : 0;
        } catch (const std::exception&) {
            reader_.reset();
        }
    }

    int64_t readMaxId()
    {
        try {
            return reader_->maxId();
        } catch (const std::exception&) {
            return 0;
        }
    }

    // The file was removed, or another put in its place: the open reader
    // would go on reading the old one.
    bool fileReplaced() const
    {
        if (!reader_)
            return false;
        struct stat info;
        return ::stat(kDatabaseFile, &info) != 0 || info.st_ino != inode_;
    }

    HostSession& session_;
    Console& console_;
    RunMetrics* metrics_;
    std::unique_ptr<EventReader> reader_;
    ino_t inode_ = 0;
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
    // Its path is checked first, and taken from the folder the tool started
    // in (the session moves to the database's folder).
    std::unique_ptr<RunMetrics> metrics;
    if (options.metrics)
        metrics.reset(new RunMetrics(*options.metrics));
    HostSession session(options.line, schedule, console, true);
    EventTail tail(session, console, metrics.get());

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
        if (metrics)
            metrics->update(session, console);
    }
    session.scheduler().wait();
    tail.print();
    if (metrics)
        metrics->update(session, console, true);
    console.clearProgress();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    PrintSummary(session, console, tail.printed(), seconds);
    int status = kExitOk;
    for (const std::string& error : session.scheduler().errors()) {
        console.error(error);
        status = kExitFailed;
    }
    if (session.captureFailed() || (metrics && metrics->failed()))
        status = kExitFailed;
    return status;
}

}  // namespace velta36cli
