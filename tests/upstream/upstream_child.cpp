// The engine in a process of its own, for the tests that kill it
// (SIGKILL) in the middle of a backlog and start it again:
//
//   velta36-upstream-child EVENT_DB STATE_DIR MQTT_JSON DEVICE:DATA_ID:DOORS...
//
// MQTT_JSON is the "mqtt" settings object. SIGTERM stops it cleanly.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "upstream.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int)
{
    stopRequested = true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::cerr << "usage: velta36-upstream-child EVENT_DB STATE_DIR MQTT_JSON DEVICE:DATA_ID:DOORS...\n";
        return 2;
    }
    try {
        Json::Value settings;
        std::string errors;
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        const std::string json = argv[3];
        if (!reader->parse(json.data(), json.data() + json.size(), &settings, &errors))
            throw std::runtime_error("bad settings: " + errors);
        velta36up::UpstreamOptions options;
        options.settings = velta36up::ParseSettings(settings);
        options.eventDatabase = argv[1];
        options.stateFolder = argv[2];
        options.retryFirst = std::chrono::milliseconds(100);
        options.retryMax = std::chrono::milliseconds(500);
        options.sourcePoll = std::chrono::milliseconds(100);
        for (int i = 4; i < argc; ++i) {
            const std::string spec = argv[i];
            const std::size_t a = spec.find(':'), b = spec.rfind(':');
            options.devices.push_back(velta36up::DeviceInfo{spec.substr(0, a), spec.substr(0, a),
                                                            std::stoll(spec.substr(a + 1, b - a - 1)),
                                                            std::stoi(spec.substr(b + 1))});
        }
        velta36up::Upstream upstream(options);
        ::signal(SIGTERM, OnSignal);
        ::signal(SIGINT, OnSignal);
        upstream.start();
        while (!stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        upstream.stop();
        const velta36up::UpstreamStats stats = upstream.stats();
        std::cout << "assigned " << stats.assigned << " acknowledged " << stats.acknowledged << " backlog "
                  << stats.backlog << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 1;
    }
}
