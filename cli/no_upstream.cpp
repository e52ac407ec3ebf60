// The tool built without libmosquitto: `run` as before, and --mqtt or an
// "mqtt" object refused with one line.
#include "run_upstream.h"

#include "input_error.h"

namespace velta36cli {

struct RunUpstream::Impl {};

std::unique_ptr<RunUpstream> RunUpstream::FromSettings(const MqttOptions& options, const Json::Value& mqtt)
{
    if (options.url || options.site || !mqtt.isNull())
        throw velta36site::InputError("this velta36 was built without libmosquitto: no MQTT upstream");
    return nullptr;
}

RunUpstream::RunUpstream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RunUpstream::~RunUpstream() = default;
void RunUpstream::attach(velta36site::Site&, Console&) {}
void RunUpstream::start() {}
void RunUpstream::stop() {}
UpstreamMetrics RunUpstream::metrics() const
{
    return UpstreamMetrics();
}

}  // namespace velta36cli
