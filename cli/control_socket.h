// The running site's door for control commands: `velta36 run` listens on a
// UNIX socket beside ZRMDevice.db (<dir>/velta36.sock), and `velta36
// open-door|configure|add-card|delete-card` with the same --dir hand their
// command to it instead of opening the line the site holds.
//
// One request a connection, one JSON object a line each way:
//
//   -> {"port": "/dev/ttyUSB0", "address": 1, "code": 320, "argument": "...", "what": "open door 1"}
//   <- {"served": true, "error": "", "ioResult": 0, "started": true, "timedOut": false,
//       "controlResult": 1, "framesSent": 2, "lastFrame": "@1230...", "lastReply": "h1/",
//       "place": "/dev/pts/3, address 1"}
//
// "port" is the device's port as configured ("simulator" for the built-in
// simulated controller); "served": false says the site has no such device
// (the caller then uses the line itself). Who may write the socket may
// command: it is made mode 0660, owned by the user and group the site runs
// as.
#ifndef VELTA36_CLI_CONTROL_SOCKET_H
#define VELTA36_CLI_CONTROL_SOCKET_H

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "console.h"
#include "site.h"

namespace velta36cli {

const char* const kControlSocketFile = "velta36.sock";

// <dir>/velta36.sock
std::string ControlSocketPath(const std::string& dir);

class ControlSocketServer {
public:
    // Listens at the path; a socket left there by a site that ended is
    // replaced. Throws std::runtime_error (one line) when it cannot listen,
    // or when a running site answers there already.
    ControlSocketServer(velta36site::Site& site, const std::string& path);
    ~ControlSocketServer();   // stops listening, removes the socket
    ControlSocketServer(const ControlSocketServer&) = delete;
    ControlSocketServer& operator=(const ControlSocketServer&) = delete;

private:
    void serve();
    void answer(int connection);

    velta36site::Site& site_;
    std::string path_;
    int listening_ = -1;
    int wake_[2] = {-1, -1};   // a byte here ends serve()
    std::thread thread_;
};

struct RunningSiteAnswer {
    velta36site::ControlOutcome outcome;
    std::string place;   // the device as the running site names it
};

// The command handed to the site running at the path, and its outcome;
// none when no site answers there or it has no device at that port and
// address (use the line). Throws std::runtime_error when the site took the
// request but the answer was lost.
std::optional<RunningSiteAnswer> AskRunningSite(const std::string& path, const std::string& port, int32_t address,
                                                const velta36site::ControlRequest& request);

}  // namespace velta36cli

#endif
