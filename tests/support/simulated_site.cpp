#include "simulated_site.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "event_db.h"
#include "event_table_sql.h"
#include "raw_database.h"

namespace velta36test {

SimulatedSite::SimulatedSite(std::string name, int devices, std::string brokerUrl, std::string folder,
                             std::string childProgram)
    : name_(std::move(name)), devices_(devices), brokerUrl_(std::move(brokerUrl)), folder_(std::move(folder)),
      child_(std::move(childProgram))
{
    ::mkdir(folder_.c_str(), 0755);
    createFile(path());
}

SimulatedSite::~SimulatedSite()
{
    if (pid_ > 0)
        stop(SIGKILL);
}

void SimulatedSite::createFile(const std::string& file) const
{
    sqlite3* handle = nullptr;   // made here; RawDatabase opens existing files only
    sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_close(handle);
    RawDatabase db(file);
    db.exec("PRAGMA journal_mode=WAL");
    db.exec(kEventTableDefinition);
}

void SimulatedSite::start()
{
    if (pid_ > 0)
        return;
    const std::string settings = "{\"url\":\"" + brokerUrl_ + "\",\"site\":\"" + name_ +
                                 "\",\"allow\":[\"replay\"],\"discovery\":false}";
    std::vector<std::string> args = {child_, path(), folder_ + "/upstream", settings};
    for (int d = 1; d <= devices_; ++d)
        args.push_back("d" + std::to_string(d) + ":" + std::to_string(d) + ":1");
    pid_ = ::fork();
    if (pid_ == 0) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string log = folder_ + "/upstream.log";
        std::freopen(log.c_str(), "a", stderr);
        std::freopen(log.c_str(), "a", stdout);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid_ < 0)
        throw std::runtime_error("cannot start the site " + name_);
}

void SimulatedSite::stop(int signal)
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

void SimulatedSite::add(int count)
{
    RawDatabase db(path());
    db.exec("BEGIN");
    for (int i = 0; i < count; ++i) {
        ++added_;
        char card[24];
        std::snprintf(card, sizeof(card), "%08lld", static_cast<long long>(added_));
        const int dataId = next_ % devices_ + 1;
        next_++;
        db.exec("INSERT INTO velta36_event(data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) VALUES (" +
                std::to_string(dataId) + ", '2024-03-05 07:08:00', 1, 1, '" + card + "', '刷卡进门成功')");
    }
    db.exec("COMMIT");
}

std::vector<SiteRow> SimulatedSite::tableRows() const
{
    std::vector<SiteRow> rows;
    for (const EventRow& row : ReadEventRows(path()))
        rows.push_back(SiteRow{name_, "d" + std::to_string(row.data_id.value_or(0)), row.id.value_or(0),
                               row.CardNo.value_or("")});
    return rows;
}

void SimulatedSite::rebuildTable()
{
    const std::vector<SiteRow> old = tableRows();
    retired_.insert(retired_.end(), old.begin(), old.end());
    RawDatabase db(path());
    db.exec("DROP TABLE velta36_event");
    db.exec(kEventTableDefinition);
}

void SimulatedSite::replaceFile()
{
    const std::vector<SiteRow> old = tableRows();
    retired_.insert(retired_.end(), old.begin(), old.end());
    {
        RawDatabase db(path());
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");   // nothing left only in the -wal
    }
    const std::string fresh = folder_ + "/ZRMDevice.new";
    createFile(fresh);
    {
        RawDatabase db(fresh);
        db.exec("PRAGMA journal_mode=DELETE");   // one file to move
    }
    ::unlink((path() + "-wal").c_str());
    ::unlink((path() + "-shm").c_str());
    if (std::rename(fresh.c_str(), path().c_str()) != 0)
        throw std::runtime_error("cannot move the new file over " + path());
    RawDatabase db(path());
    db.exec("PRAGMA journal_mode=WAL");
}

std::vector<SiteRow> SimulatedSite::rows() const
{
    std::vector<SiteRow> all = retired_;
    const std::vector<SiteRow> now = tableRows();
    all.insert(all.end(), now.begin(), now.end());
    return all;
}

}  // namespace velta36test
