#include "mosquitto_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "temp_work_dir.h"
#include "text_file.h"

namespace velta36test {

namespace {

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0600)
{
    {
        std::ofstream out(path, std::ios::trunc);
        out << text;
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int FreeLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("no free port: ") + std::strerror(errno));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

void RunOrThrow(const std::string& command)
{
    const std::string output = SystemTempBase() + "/velta36-run-" + std::to_string(::getpid()) + ".out";
    const int status = std::system((command + " >" + Quote(output) + " 2>&1").c_str());
    const std::string text = ReadTextFile(output);
    ::unlink(output.c_str());
    if (status != 0)
        throw std::runtime_error(command + " failed: " + text);
}

MosquittoBroker::MosquittoBroker(BrokerOptions options, bool startNow) : options_(std::move(options))
{
    std::string pattern = SystemTempBase() + "/velta36-broker-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    folder_ = name.data();
    port_ = FreeLocalPort();
    if (options_.tls) {
        tlsPort_ = FreeLocalPort();
        makePki();
    }
    writeConfig();
    if (startNow)
        start();
}

MosquittoBroker::~MosquittoBroker()
{
    if (pid_ > 0)
        stop(SIGKILL);
    detail::RemoveTree(folder_);
}

void MosquittoBroker::makePki()
{
    const std::string d = folder_ + "/";
    pki_.caFile = d + "ca.crt";
    pki_.otherCaFile = d + "other-ca.crt";
    pki_.serverCert = d + "server.crt";
    pki_.serverKey = d + "server.key";
    pki_.clientCert = d + "client.crt";
    pki_.clientKey = d + "client.key";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    auto ca = [&](const std::string& stem, const std::string& cn) {
        RunOrThrow("openssl req -x509" + ec + "-days 2 -subj /CN=" + cn + " -keyout " + Quote(d + stem + ".key") +
                   " -out " + Quote(d + stem + ".crt"));
    };
    auto leaf = [&](const std::string& stem, const std::string& cn, const std::string& extensions) {
        WriteFile(d + stem + ".ext", extensions);
        RunOrThrow("openssl req" + ec + "-subj /CN=" + cn + " -keyout " + Quote(d + stem + ".key") + " -out " +
                   Quote(d + stem + ".csr"));
        RunOrThrow("openssl x509 -req -days 2 -in " + Quote(d + stem + ".csr") + " -CA " + Quote(pki_.caFile) +
                   " -CAkey " + Quote(d + "ca.key") + " -CAcreateserial -out " + Quote(d + stem + ".crt") +
                   " -extfile " + Quote(d + stem + ".ext"));
        ::chmod((d + stem + ".key").c_str(), 0600);
    };
    ca("ca", "velta36-test-ca");
    ca("other-ca", "velta36-other-ca");
    leaf("server", "127.0.0.1", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    leaf("client", "velta36-test-client", "extendedKeyUsage=clientAuth\n");
}

void MosquittoBroker::writeConfig()
{
    std::ostringstream conf;
    // As root mosquitto would drop to its own user, who cannot read this
    // folder; as anyone else the line changes nothing.
    if (::geteuid() == 0)
        conf << "user root\n";
    conf << "per_listener_settings false\n";
    conf << "log_dest stdout\nlog_type error\nlog_type warning\nlog_type notice\nlog_type information\n";
    conf << "persistence " << (options_.persistence ? "true" : "false") << "\n";
    conf << "persistence_location " << folder_ << "/\n";
    conf << "max_queued_messages " << options_.maxQueuedMessages << "\n";
    if (options_.users.empty()) {
        conf << "allow_anonymous true\n";
    } else {
        conf << "allow_anonymous false\npassword_file " << folder_ << "/passwd\n";
        WriteFile(folder_ + "/passwd", "");
        for (const BrokerUser& user : options_.users)
            RunOrThrow("mosquitto_passwd -b " + Quote(folder_ + "/passwd") + " " + Quote(user.name) + " " +
                       Quote(user.password));
    }
    if (!options_.acl.empty()) {
        WriteFile(folder_ + "/acl", options_.acl);
        conf << "acl_file " << folder_ << "/acl\n";
    }
    conf << "listener " << port_ << " 127.0.0.1\n";
    if (options_.tls) {
        conf << "listener " << tlsPort_ << " 127.0.0.1\n";
        conf << "cafile " << pki_.caFile << "\ncertfile " << pki_.serverCert << "\nkeyfile " << pki_.serverKey << "\n";
        if (options_.requireCertificate)
            conf << "require_certificate true\n";
    }
    conf << options_.extra;
    WriteFile(folder_ + "/mosquitto.conf", conf.str());
}

void MosquittoBroker::replaceAcl(const std::string& acl)
{
    if (options_.acl.empty())
        throw std::runtime_error("replaceAcl: the broker was started without an ACL file");
    options_.acl = acl;
    WriteFile(folder_ + "/acl", acl);
    if (pid_ > 0)
        ::kill(pid_, SIGHUP);
}

std::string MosquittoBroker::log() const
{
    return ReadTextFile(folder_ + "/broker.log");
}

void MosquittoBroker::start()
{
    if (pid_ > 0)
        return;
    const std::string logFile = folder_ + "/broker.log";
    const std::string conf = folder_ + "/mosquitto.conf";
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        const int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execlp("mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("mosquitto exited at start: " + log());
        }
        if (Accepts(port_) && (tlsPort_ == 0 || Accepts(tlsPort_)))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop(SIGKILL);
    throw std::runtime_error("mosquitto did not listen within 10 s: " + log());
}

void MosquittoBroker::stop(int signal)
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

}  // namespace velta36test
