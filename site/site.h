// A site: the devices of a configuration on their lines, polled by the
// reference host's scheduler through the plug-in, their events in the
// event database, and everything that happens told to listeners
// (site_listener.h). Nothing here prints or reads a terminal.
//
// A site starts in named steps, each taken once, in the order the front end
// chooses. The tool takes them in this order:
//
//   Site site(ReadSiteConfig(options));
//   site.openCapture();          // the pcapng file, when one is configured
//   site.loadPlugin();           // velta36.so
//   site.silencePluginOutput();  // the plug-in's standard output is the site's
//   site.openLines();            // every port opened, every device configured
//   site.enterWorkingFolder();   // created if missing; the plug-in opens
//                                // "ZRMDevice.db" relative to it
//   site.setUpEventDatabase();   // the file and table, when missing
//   site.addListener(console);
//   site.start();
//   ... site.submit(device, OpenDoorRequest(1)).get() ...
//   site.stop(); site.wait();
//
// Paths are absolute from the configuration on, so the folder may be
// entered at any point before start(); entered after the lines, a port
// that cannot be opened leaves no folder or database behind. openLines() and
// setUpEventDatabase() need the plug-in; openCapture() comes before
// openLines(), silencePluginOutput() before start(); start() needs the
// lines (std::logic_error otherwise). A step that fails throws (InputError for what
// the user gave, refhost::SerialError for a port, refhost::PluginError for
// the plug-in, std::runtime_error otherwise); the site can then be
// destroyed, undoing what the steps did (standard output is given back).
//
// Threads: one per line (the scheduler's), and one notification thread of
// the site's own, which makes every listener call. Lines post what they see
// to it; the event stream is read there, at once after a device sent a
// frame or completed a round (every save is followed by one of them), and
// every 250 ms for other writers of the file.
#ifndef VELTA36_SITE_SITE_H
#define VELTA36_SITE_SITE_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control_request.h"
#include "device_identity.h"
#include "door_states.h"
#include "event_database.h"
#include "line_capture.h"
#include "notification_queue.h"
#include "refhost/plugin_loader.h"
#include "refhost/scheduler.h"
#include "refhost/transport.h"
#include "site_config.h"
#include "site_listener.h"

namespace velta36site {

class EventStream;

// A line as its opener hands it to the site.
struct OpenedLine {
    std::unique_ptr<refhost::Transport> transport;   // open
    std::string port;                 // the name it goes by; empty: the configured port
    std::function<bool()> finished;   // optional: true once the line has nothing more to do
};

// Opens one line of the configuration. The default opens the configured
// port as a serial line; a front end replaces it to serve lines whose port
// is "simulator" (the built-in simulated controller) or to use other
// transports.
// Whatever serves a line must outlive the site.
using LineOpener = std::function<OpenedLine(const LineSpec& line, const refhost::Rs485Settings& rs485)>;
OpenedLine OpenSerialLine(const LineSpec& line, const refhost::Rs485Settings& rs485);

struct DatabaseSetupReport {
    DatabaseSetup setup = DatabaseSetup::Existing;   // what was made
    std::string error;   // not empty: it could not be set up, and why
};

// One device's figures, as Site::status() gives them.
struct DeviceStatus {
    refhost::DeviceProgress progress;   // rounds, time-outs, frames, bytes, database health
    std::optional<DoorStates> doors;    // as last published; none before the first round
    std::optional<std::chrono::steady_clock::time_point> lastRoundAt;
    uint64_t eventsStored = 0;          // rows of the device told to listeners
    bool lineOpen = true;               // false while its port cannot be opened
    std::string lineError;              // why, while it cannot
};

class Site {
public:
    explicit Site(SiteConfig config);
    ~Site();
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // The start steps.
    void openCapture();
    void loadPlugin();
    void enterWorkingFolder();
    // A database that cannot be set up is reported, not thrown: the
    // devices are polled anyway, and their events wait on the controllers
    // until they can be stored (a database fault like any other).
    DatabaseSetupReport setUpEventDatabase();
    // Unless the trace is asked for, what the plug-in writes on standard
    // output goes nowhere; with it, its lines reach listeners (onPluginLog)
    // while the site runs, and what it writes before and after (its
    // settings lines) stays on standard output.
    void silencePluginOutput();
    void setLineOpener(LineOpener opener);
    // Every line opened, every device configured. A line whose port cannot
    // be opened is tried again from start() on, every second at first, the
    // wait doubling to a minute (onLineState), while the others run; when
    // no line opens, the first line's error is thrown.
    void openLines();
    // Before start(); the listener must outlive the site's run.
    void addListener(SiteListener& listener);
    void start();

    // Lines finish the exchange in progress, then end. Safe from any thread.
    void stop();
    // Like stop, but an exchange in progress is cut short.
    void abort();
    // Until every line has ended and every notice has been told; not from
    // a listener.
    void wait();
    // Every line has ended (for its own reasons or after stop()).
    bool finished() const;

    // Queues the request for the device (once the lines are open); it runs
    // between exchanges. The future never throws: an outcome whose error is set tells why the
    // command did not run. Listeners hear the same outcome. Safe from any
    // thread, listeners included.
    std::future<ControlOutcome> submit(const DeviceIdentity& device, const ControlRequest& request);

    const SiteConfig& config() const { return config_; }
    // Every device by index; their ports are final once the lines are open.
    const std::vector<DeviceIdentity>& devices() const { return devices_; }
    const std::vector<LineIdentity>& lines() const { return lines_; }
    // A snapshot, by device index; safe from any thread.
    std::vector<DeviceStatus> status() const;
    uint64_t completedRounds() const;
    // One message per line that ended on an error.
    std::vector<std::string> errors() const;
    // The capture asked for could not be written to the end.
    bool captureFailed() const;

private:
    struct DeviceState;
    struct PendingControl;
    class PluginOutput;

    void onHostEvent(std::size_t device, const refhost::HostEvent& event);
    void onTrace(const refhost::TraceRecord& record);
    void onLineState(std::size_t line, bool open, const std::string& error);
    void addCaptureInterface(std::size_t line, const LineSpec& spec);
    const DeviceIdentity& identityOfDataId(int64_t dataId);
    void readEvents();
    void checkPeriodically();
    bool deliverControls();
    void noticeLineErrors();
    void noticeTimeouts();
    template <typename Call>
    void tell(Call call);

    SiteConfig config_;
    std::vector<DeviceIdentity> devices_;
    std::vector<LineIdentity> lines_;
    LineOpener opener_;
    std::vector<std::function<bool()>> lineFinished_;
    std::unique_ptr<LineCapture> capture_;
    std::vector<uint32_t> captureInterfaces_;                                    // by line
    std::map<std::pair<std::size_t, std::string>, std::string> captureNotes_;   // (line, device) -> comment
    std::shared_ptr<refhost::PluginLibrary> plugin_;
    std::unique_ptr<refhost::Scheduler> scheduler_;   // after the plug-in: its devices go first
    std::unique_ptr<PluginOutput> pluginOutput_;
    std::vector<SiteListener*> listeners_;
    bool linesOpen_ = false;
    bool started_ = false;
    bool waited_ = false;

    mutable std::mutex stateMutex_;
    std::vector<DeviceState> state_;
    std::vector<std::string> lineErrors_;   // by line; empty: open

    // On the notification thread only.
    std::unique_ptr<EventStream> stream_;
    std::map<int64_t, DeviceIdentity> otherWriters_;
    std::vector<uint32_t> timeoutsTold_;
    std::size_t errorsTold_ = 0;

    std::mutex controlsMutex_;
    std::vector<std::shared_ptr<PendingControl>> controls_;
    bool noticesEnded_ = false;   // no notification thread to tell outcomes any more

    NotificationQueue notices_;   // last: its thread goes first
};

}  // namespace velta36site

#endif
