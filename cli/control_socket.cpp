#include "control_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <json/json.h>

#include "control_codes.h"
#include "output_format.h"

namespace velta36cli {

namespace {

// A request is a few hundred bytes; more is not one of ours.
const std::size_t kMaxRequestBytes = 16384;
// A client that connects and says nothing is dropped after this.
const int kRequestTimeoutSeconds = 5;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool AddressOf(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// 0 when connected, errno otherwise.
int Connect(int fd, const sockaddr_un& address)
{
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ? 0 : errno;
}

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

bool ParseLine(const std::string& text, Json::Value& value)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &value, &errors) && value.isObject();
}

// One line, without its newline; false when the peer closed or timed out
// first, or sent too much.
bool ReadLine(int fd, std::string& line)
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        line.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) {
            line.resize(end);
            return true;
        }
        if (line.size() > kMaxRequestBytes)
            return false;
    }
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool IsControlCode(int32_t code)
{
    return code == CTL_SET_VALUE || code == CTL_CONFIGURE || code == CTL_CARD_ADD || code == CTL_CARD_DELETE;
}

}  // namespace

std::string ControlSocketPath(const std::string& dir)
{
    return (std::filesystem::absolute(dir) / kControlSocketFile).lexically_normal().string();
}

ControlSocketServer::ControlSocketServer(velta36site::Site& site, const std::string& path) : site_(site), path_(path)
{
    sockaddr_un address;
    if (!AddressOf(path, address))
        throw std::runtime_error(path + ": too long for a socket path (at most " +
                                 std::to_string(sizeof(address.sun_path) - 1) + " bytes)");
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        throw std::runtime_error(std::string("cannot make the control socket: ") + std::strerror(errno));
    struct stat existing;
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            throw std::runtime_error(path + ": exists and is not a socket");
        Descriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (probe.get() >= 0 && Connect(probe.get(), address) == 0)
            throw std::runtime_error(path + ": another running velta36 site answers there");
        ::unlink(path.c_str());   // left by a site that ended without removing it
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(errno));
    // Whoever may write it may command: the site's user and group.
    if (::chmod(path.c_str(), 0660) != 0 || ::listen(fd.get(), 4) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(path.c_str());
        throw std::runtime_error("cannot listen on " + path + ": " + why);
    }
    listening_ = fd.release();
    thread_ = std::thread([this] { serve(); });
}

ControlSocketServer::~ControlSocketServer()
{
    const char stop = 's';
    if (::write(wake_[1], &stop, 1) < 0) {
        // The thread then ends with the process; nothing better to do.
    }
    if (thread_.joinable())
        thread_.join();
    ::unlink(path_.c_str());
    ::close(listening_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ControlSocketServer::serve()
{
    for (;;) {
        pollfd fds[2] = {{listening_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        Descriptor connection(::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() >= 0)
            answer(connection.get());
    }
}

// One request, run through the site like any other command; its outcome
// goes back. The site's console hears it as it hears every command.
void ControlSocketServer::answer(int connection)
{
    timeval timeout{kRequestTimeoutSeconds, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    std::string line;
    Json::Value request;
    Json::Value reply(Json::objectValue);
    reply["served"] = false;
    if (!ReadLine(connection, line))
        return;
    if (!ParseLine(line, request) || !request["port"].isString() || !request["address"].isInt() ||
        !request["code"].isInt() || !IsControlCode(request["code"].asInt()) || !request["argument"].isString() ||
        !request["what"].isString()) {
        reply["error"] = "not a control request";
        WriteAll(connection, Compact(reply) + "\n");
        return;
    }
    const std::string port = request["port"].asString();
    const int32_t address = request["address"].asInt();
    const velta36site::DeviceIdentity* device = nullptr;
    for (const velta36site::DeviceSpec& spec : site_.config().devices) {
        if (spec.identity.port == port && spec.identity.address == address)
            device = &site_.devices().at(spec.identity.index);
    }
    if (device == nullptr) {
        WriteAll(connection, Compact(reply) + "\n");
        return;
    }
    const velta36site::ControlRequest control{request["code"].asInt(), request["argument"].asString(),
                                              request["what"].asString()};
    const velta36site::ControlOutcome outcome = site_.submit(*device, control).get();
    reply["served"] = true;
    reply["error"] = outcome.error;
    reply["ioResult"] = outcome.ioResult;
    reply["started"] = outcome.started;
    reply["timedOut"] = outcome.timedOut;
    reply["controlResult"] = outcome.controlResult;
    reply["framesSent"] = outcome.framesSent;
    reply["lastFrame"] = PrintableAscii(std::string(outcome.lastFrame.begin(), outcome.lastFrame.end()));
    reply["lastReply"] = PrintableAscii(std::string(outcome.lastReply.begin(), outcome.lastReply.end()));
    reply["place"] = device->place();
    WriteAll(connection, Compact(reply) + "\n");
}

std::optional<RunningSiteAnswer> AskRunningSite(const std::string& path, const std::string& port, int32_t address,
                                                const velta36site::ControlRequest& request)
{
    sockaddr_un socketAddress;
    if (!AddressOf(path, socketAddress))
        return std::nullopt;
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return std::nullopt;
    const int error = Connect(fd.get(), socketAddress);
    if (error == EACCES || error == EPERM)
        throw std::runtime_error(path + ": permission denied (commands go to the running site only for its "
                                        "user and group)");
    if (error != 0)
        return std::nullopt;   // no site running there: the line is free, or held by someone else

    Json::Value ask(Json::objectValue);
    ask["port"] = port;
    ask["address"] = address;
    ask["code"] = request.code;
    ask["argument"] = request.argument;
    ask["what"] = request.what;
    std::string line;
    Json::Value reply;
    if (!WriteAll(fd.get(), Compact(ask) + "\n") || !ReadLine(fd.get(), line) || !ParseLine(line, reply))
        throw std::runtime_error("the running site at " + path + " took the command but its answer was lost");
    if (!reply["served"].asBool()) {
        if (!reply["error"].asString().empty())
            throw std::runtime_error("the running site at " + path + ": " + reply["error"].asString());
        return std::nullopt;
    }
    RunningSiteAnswer answer;
    velta36site::ControlOutcome& outcome = answer.outcome;
    outcome.error = reply["error"].asString();
    outcome.ioResult = reply["ioResult"].asInt();
    outcome.started = reply["started"].asBool();
    outcome.timedOut = reply["timedOut"].asBool();
    outcome.controlResult = reply["controlResult"].asInt();
    outcome.framesSent = reply["framesSent"].asUInt();
    const std::string frame = reply["lastFrame"].asString();
    outcome.lastFrame.assign(frame.begin(), frame.end());
    const std::string answered = reply["lastReply"].asString();
    outcome.lastReply.assign(answered.begin(), answered.end());
    answer.place = reply["place"].asString();
    return answer;
}

}  // namespace velta36cli
