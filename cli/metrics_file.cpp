#include "metrics_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "input_error.h"

namespace velta36cli {

using velta36site::InputError;

namespace {

// Label values escape backslash, double quote and line feed.
std::string LabelValue(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

std::string Labels(const DeviceMetrics& device, const std::string& extra = "")
{
    return "{device=\"" + LabelValue(device.name) + "\",port=\"" + LabelValue(device.port) + "\",address=\"" +
           std::to_string(device.address) + "\"" + extra + "}";
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", value);
    return text;
}

// One metric: its HELP and TYPE lines, then a sample per device that has one.
void Metric(std::string& out, const std::vector<DeviceMetrics>& devices, const char* name, const char* type,
            const char* help, const std::function<void(std::string&, const DeviceMetrics&)>& samples)
{
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
    for (const DeviceMetrics& device : devices)
        samples(out, device);
}

// Site-wide samples, without labels.
void UpstreamText(std::string& out, const UpstreamMetrics& u)
{
    auto sample = [&out](const char* name, const char* type, const char* help, const std::string& value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " +
               value + "\n";
    };
    sample("velta36_upstream_connected", "gauge", "1 while the upstream is connected to its broker.",
           u.connected ? "1" : "0");
    sample("velta36_upstream_published_total", "counter", "Event messages handed to the broker, resends included.",
           std::to_string(u.published));
    sample("velta36_upstream_acknowledged_total", "counter", "Event messages the broker acknowledged with success.",
           std::to_string(u.acknowledged));
    sample("velta36_upstream_backlog", "gauge", "Stored events the broker has not acknowledged yet.",
           std::to_string(u.backlog));
    if (u.lastAckAgeSeconds)
        sample("velta36_upstream_last_ack_age_seconds", "gauge", "Seconds since the broker last acknowledged an event.",
               Number(*u.lastAckAgeSeconds));
    sample("velta36_upstream_commands_carried_out_total", "counter", "Commands from the broker the site carried out.",
           std::to_string(u.commandsCarriedOut));
    sample("velta36_upstream_commands_refused_total", "counter", "Requests from the broker refused or invalid.",
           std::to_string(u.commandsRefused));
}

}  // namespace

std::string MetricsText(const std::vector<DeviceMetrics>& devices, const std::optional<UpstreamMetrics>& upstream)
{
    std::string out;
    auto counter = [&out, &devices](const char* name, const char* help, uint64_t DeviceMetrics::*field) {
        Metric(out, devices, name, "counter", help, [name, field](std::string& text, const DeviceMetrics& d) {
            text += name + Labels(d) + " " + std::to_string(d.*field) + "\n";
        });
    };
    counter("velta36_rounds_completed_total", "Polling rounds the device completed since the host started.",
            &DeviceMetrics::roundsCompleted);
    counter("velta36_rounds_timed_out_total", "Exchanges the host ended because the controller went quiet.",
            &DeviceMetrics::roundsTimedOut);
    counter("velta36_events_stored_total", "Events of the device stored in the database since the host started.",
            &DeviceMetrics::eventsStored);
    counter("velta36_saves_failed_total", "Event saves that gave up; their batch stayed on the controller.",
            &DeviceMetrics::savesFailed);
    Metric(out, devices, "velta36_database_fault", "gauge", "1 while the device's events do not reach the database.",
           [](std::string& text, const DeviceMetrics& d) {
               text += "velta36_database_fault" + Labels(d) + (d.databaseFault ? " 1\n" : " 0\n");
           });
    Metric(out, devices, "velta36_last_round_age_seconds", "gauge",
           "Seconds since the device last completed a round (absent before its first).",
           [](std::string& text, const DeviceMetrics& d) {
               if (d.lastRoundAgeSeconds)
                   text += "velta36_last_round_age_seconds" + Labels(d) + " " + Number(*d.lastRoundAgeSeconds) + "\n";
           });
    Metric(out, devices, "velta36_door_open", "gauge", "1 when the door was open at the last status reply.",
           [](std::string& text, const DeviceMetrics& d) {
               if (d.door1Open)
                   text += "velta36_door_open" + Labels(d, ",door=\"1\"") + (*d.door1Open ? " 1\n" : " 0\n");
               if (d.doors == 2 && d.door2Open)
                   text += "velta36_door_open" + Labels(d, ",door=\"2\"") + (*d.door2Open ? " 1\n" : " 0\n");
           });
    // The error rides on the sample as a label while the port is closed.
    Metric(out, devices, "velta36_line_open", "gauge",
           "1 while the device's port is open; 0 while it cannot be opened (error: why).",
           [](std::string& text, const DeviceMetrics& d) {
               text += "velta36_line_open" +
                       Labels(d, d.lineOpen ? std::string() : ",error=\"" + LabelValue(d.lineError) + "\"") +
                       (d.lineOpen ? " 1\n" : " 0\n");
           });
    if (upstream)
        UpstreamText(out, *upstream);
    return out;
}

// Kept absolute: run changes into the database's folder after this.
MetricsFile::MetricsFile(const std::string& path)
    : path_(std::filesystem::absolute(path).string()), temporary_(path_ + ".tmp")
{
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        throw InputError("cannot write the metrics file " + path + ": it is a folder");
    // The file itself appears with the first write; here only whether its
    // folder takes one.
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw InputError("cannot write the metrics file " + path + ": " + std::strerror(errno));
    ::close(fd);
    ::unlink(temporary_.c_str());
}

bool MetricsFile::write(const std::string& text, std::string& why)
{
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = n < 0 ? std::strerror(errno) : "nothing written";
            ::close(fd);
            ::unlink(temporary_.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temporary_.c_str(), path_.c_str()) != 0) {
        why = std::strerror(errno);
        ::unlink(temporary_.c_str());
        return false;
    }
    return true;
}

}  // namespace velta36cli
