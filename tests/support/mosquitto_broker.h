// MosquittoBroker: a real mosquitto for a test, on 127.0.0.1 at a free port,
// in a scratch folder of its own: users in a password file made with
// mosquitto_passwd, an ACL file, persistence on or off, and on request a
// TLS listener with a CA and certificates made with openssl (and a second,
// unrelated CA for the wrong-CA case). It can be stopped with SIGTERM (it
// saves its persistence) or SIGKILL (it does not) and started again on the
// same ports.
//
//   velta36test::BrokerOptions options;
//   options.users = {{"north", "secret"}, {"central", "other"}};
//   options.acl = "user north\ntopic readwrite velta36/north/#\n";
//   velta36test::MosquittoBroker broker(options);   // started
//   broker.stop(SIGKILL); broker.start();
//
// Needs mosquitto, mosquitto_passwd and (for TLS) openssl on PATH; the
// tests that use it start a server, so the mipsel job leaves them out.
#ifndef VELTA36_TESTS_SUPPORT_MOSQUITTO_BROKER_H
#define VELTA36_TESTS_SUPPORT_MOSQUITTO_BROKER_H

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

namespace velta36test {

struct BrokerUser {
    std::string name;
    std::string password;
};

struct BrokerOptions {
    std::vector<BrokerUser> users;   // none: anonymous clients allowed
    std::string acl;                 // the ACL file's text; empty: no ACL
    bool persistence = false;
    bool tls = false;                // a second listener, TLS
    bool requireCertificate = false; // on the TLS listener
    int maxQueuedMessages = 1000;    // per offline client, mosquitto's default
    std::string extra;               // more lines for mosquitto.conf
};

// The files a TLS test needs, all in the broker's folder.
struct TestPki {
    std::string caFile;         // signed the broker's and the client's certificates
    std::string otherCaFile;    // signed nothing the broker has
    std::string serverCert, serverKey;
    std::string clientCert, clientKey;
};

class MosquittoBroker {
public:
    explicit MosquittoBroker(BrokerOptions options = {}, bool startNow = true);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts it and waits until its ports accept connections; throws when
    // it does not within 10 s (its log is in the message).
    void start();
    // Sends the signal and waits for it to exit (SIGKILL after 10 s).
    void stop(int signal = SIGTERM);
    bool running() const { return pid_ > 0; }
    // Writes a new ACL file and has the running broker read it (SIGHUP).
    void replaceAcl(const std::string& acl);

    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    std::string tlsUrl() const { return "mqtts://127.0.0.1:" + std::to_string(tlsPort_); }
    const TestPki& pki() const { return pki_; }
    const std::string& folder() const { return folder_; }
    // Everything the broker logged so far, all runs.
    std::string log() const;

private:
    void writeConfig();
    void makePki();

    BrokerOptions options_;
    std::string folder_;
    int port_ = 0;
    int tlsPort_ = 0;
    pid_t pid_ = -1;
    TestPki pki_;
};

// A TCP port on 127.0.0.1 that nothing listens on at the time of asking.
int FreeLocalPort();

// Runs a shell command; throws with its output when it fails.
void RunOrThrow(const std::string& command);

}  // namespace velta36test

#endif
