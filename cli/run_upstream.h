// `velta36 run --mqtt`: the site's MQTT upstream (upstream/) wired to the
// site. It hears the site as a listener, carries out the broker's commands
// through Site::submit, logs its lines on the console and keeps its state
// in `<dir>/upstream/`, beside ZRMDevice.db. Without --mqtt and without an
// "mqtt" object in the configuration there is none: no thread, no file.
#ifndef VELTA36_CLI_RUN_UPSTREAM_H
#define VELTA36_CLI_RUN_UPSTREAM_H

#include <memory>
#include <optional>
#include <string>

#include <json/json.h>

#include "console.h"
#include "metrics_file.h"
#include "site.h"

namespace velta36cli {

// The command line's part of the settings; it wins over the "mqtt" object.
struct MqttOptions {
    std::optional<std::string> url;    // --mqtt
    std::optional<std::string> site;   // --site
};

// The upstream's state folder under the event database's folder.
const char* const kUpstreamFolder = "upstream";

class RunUpstream {
public:
    // None when neither the command line nor the configuration asks for
    // one. Checks the settings whole (InputError with one line); relative
    // file names in them are taken from the current folder, now.
    static std::unique_ptr<RunUpstream> FromSettings(const MqttOptions& options, const Json::Value& mqtt);
    ~RunUpstream();
    RunUpstream(const RunUpstream&) = delete;
    RunUpstream& operator=(const RunUpstream&) = delete;

    // Once the site's lines are open (its devices final) and before
    // Site::start(): makes the engine (reading the password file, opening
    // the state folder) and listens to the site. Both must outlive the run.
    void attach(velta36site::Site& site, Console& console);
    void start();
    // After Site::wait(): the bounded wait for the broker's
    // acknowledgements, then "offline". Also done by the destructor.
    void stop();

    UpstreamMetrics metrics() const;

private:
    struct Impl;
    explicit RunUpstream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace velta36cli

#endif
