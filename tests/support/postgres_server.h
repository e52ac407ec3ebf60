// PostgresServer: a PostgreSQL 15 server of the test's own, in a scratch
// folder, listening on a socket folder there and on 127.0.0.1 at a free
// port; stopped and removed with the object. The server refuses to run as
// root, so as root initdb and pg_ctl run as "nobody" (runuser), which owns
// the scratch folder. Local socket connections are trusted; TCP ones need a
// password (scram-sha-256), for tests of password handling.
//
// Server binaries from Debian's postgresql-15 (/usr/lib/postgresql/15/bin,
// or $VELTA36_PG_BIN). Plain POSIX, libpq and C++17.
#ifndef VELTA36_TESTS_SUPPORT_POSTGRES_SERVER_H
#define VELTA36_TESTS_SUPPORT_POSTGRES_SERVER_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "temp_work_dir.h"

extern char** environ;

namespace velta36test {

struct PostgresOptions {
    // Tests do not need their rows on the disk (a commit still reaches
    // the server's log, so an immediate stop keeps it); benchmarks that
    // measure commits do.
    bool fsync = false;
    std::vector<std::string> settings;   // more "-c name=value" for the server
};

class PostgresServer {
public:
    static std::string BinaryDir()
    {
        const char* dir = std::getenv("VELTA36_PG_BIN");
        return dir && *dir ? dir : "/usr/lib/postgresql/15/bin";
    }
    // The server binaries are installed.
    static bool Available() { return ::access((BinaryDir() + "/initdb").c_str(), X_OK) == 0; }

    explicit PostgresServer(PostgresOptions options = {}) : options_(std::move(options))
    {
        std::string pattern = SystemTempBase() + "/velta36-pg-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed for " + pattern);
        dir_ = name.data();
        try {
            if (::getuid() == 0 && ::chown(dir_.c_str(), OwnerUid(), static_cast<gid_t>(-1)) != 0)
                throw std::runtime_error("cannot hand " + dir_ + " to nobody");
            port_ = FreePort();
            run({BinaryDir() + "/initdb", "-D", data(), "-U", "velta36", "--auth-local=trust",
                 "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C.UTF-8", "--no-sync", "--no-instructions"});
            start();
        } catch (...) {
            detail::RemoveTree(dir_);
            throw;
        }
    }

    ~PostgresServer()
    {
        if (running_) {
            try {
                stop("immediate");
            } catch (...) {
            }
        }
        detail::RemoveTree(dir_);
    }

    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    void start()
    {
        std::string settings = "-k " + dir_ + " -p " + std::to_string(port_) +
                               " -c listen_addresses=127.0.0.1 -c max_connections=40 -c shared_buffers=32MB";
        if (!options_.fsync)
            settings += " -c fsync=off -c full_page_writes=off";
        for (const std::string& setting : options_.settings)
            settings += " -c " + setting;
        run({BinaryDir() + "/pg_ctl", "-D", data(), "-l", dir_ + "/server.log", "-w", "-t", "60", "-o", settings,
             "start"});
        running_ = true;
    }

    // "fast" closes every session and stops; "immediate" stops at once,
    // as a crash would (the server recovers from its log at the next start).
    void stop(const std::string& mode = "fast")
    {
        running_ = false;
        run({BinaryDir() + "/pg_ctl", "-D", data(), "-m", mode, "-w", "-t", "60", "stop"});
    }

    int port() const { return port_; }
    const std::string& socketDir() const { return dir_; }

    // A key=value connection string over the socket (trusted, superuser).
    std::string conninfo(const std::string& database = "postgres") const
    {
        return "host=" + dir_ + " port=" + std::to_string(port_) + " user=velta36 dbname=" + database;
    }
    // The same as a URI over TCP, where a password is required.
    std::string tcpUri(const std::string& user, const std::string& database) const
    {
        return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + database;
    }

    // A new, empty database; its name.
    std::string createDatabase()
    {
        const std::string name = "test" + std::to_string(++databases_);
        execute("postgres", "CREATE DATABASE " + name);
        return name;
    }

    // Runs statements; the first column of the last result's rows, one a
    // line (NULL as "NULL").
    std::string execute(const std::string& database, const std::string& sql) const
    {
        PGconn* conn = PQconnectdb(conninfo(database).c_str());
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(conn);
            PQfinish(conn);
            throw std::runtime_error("cannot connect to the test server: " + why);
        }
        PGresult* result = PQexec(conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        std::string out;
        if (status == PGRES_TUPLES_OK) {
            for (int r = 0; r < PQntuples(result); ++r) {
                out += r > 0 ? "\n" : "";
                out += PQgetisnull(result, r, 0) ? "NULL" : PQgetvalue(result, r, 0);
            }
        }
        const std::string why = PQresultErrorMessage(result);
        PQclear(result);
        PQfinish(conn);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw std::runtime_error("test statement failed: " + why + " (" + sql + ")");
        return out;
    }

private:
    static uid_t OwnerUid() { return 65534; }   // nobody

    std::string data() const { return dir_ + "/data"; }

    static int FreePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (fd >= 0)
                ::close(fd);
            throw std::runtime_error("no free port on 127.0.0.1");
        }
        ::close(fd);
        return ntohs(address.sin_port);
    }

    // Runs a server program (as nobody when we are root), its output into
    // the scratch folder; throws with that output when it fails.
    void run(std::vector<std::string> args) const
    {
        if (::getuid() == 0)
            args.insert(args.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
        const std::string log = dir_ + "/command.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (rc != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::ifstream in(log);
            std::stringstream output;
            output << in.rdbuf();
            std::ifstream server(dir_ + "/server.log");
            output << server.rdbuf();
            throw std::runtime_error(args[::getuid() == 0 ? 4 : 0] + " failed: " + output.str());
        }
    }

    PostgresOptions options_;
    std::string dir_;
    int port_ = 0;
    int databases_ = 0;
    bool running_ = false;
};

}  // namespace velta36test

#endif
