// How long one VELTA36::process call on a full event reply (10 records)
// takes while another connection holds the database file locked and never
// lets go. The save of the first record gives up after its four attempts,
// the batch is not acknowledged, and the call returns: the figure is the
// stall the line's other controllers see.
//
//   velta36-bench-stall [CALLS]        (default 5 per kind of lock)
//
// Two kinds of lock: an exclusive one (no other connection may even read)
// and a reader's shared lock held in an open transaction (the insert gets
// in, the commit cannot). After the lock is released one more call must
// store the batch and acknowledge it. The database lives under $TMPDIR.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "decode_rig.h"
#include "event_db.h"
#include "quiet_stdout.h"
#include "temp_work_dir.h"

namespace {

class LockHolder {
public:
    explicit LockHolder(const char* how)
    {
        if (sqlite3_open_v2("ZRMDevice.db", &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open ZRMDevice.db");
        exec(how);
    }
    ~LockHolder()
    {
        exec("COMMIT");
        sqlite3_close(db_);
    }
    void exec(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
        // A read in the transaction takes (and keeps) the shared lock.
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
        sqlite3_finalize(statement);
    }

private:
    sqlite3* db_ = nullptr;
};

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv)
{
    std::ostream& out = velta36bench::QuietStdout();
    const int calls = argc > 1 ? std::atoi(argv[1]) : 5;
    if (calls <= 0) {
        std::cerr << "usage: " << argv[0] << " [CALLS]\n";
        return 2;
    }
    try {
        velta36test::TempWorkDir dir;
        velta36test::CreateEventDatabase();
        velta36bench::DecodeRig rig;
        struct Kind {
            const char* name;
            bool exclusive;
        };
        const Kind kinds[] = {{"exclusive lock", true}, {"reader's shared lock", false}};
        for (const Kind& kind : kinds) {
            std::vector<double> seconds;
            LockHolder holder(kind.exclusive ? "BEGIN EXCLUSIVE" : "BEGIN");
            if (!kind.exclusive)
                holder.exec("SELECT count(*) FROM velta36_event");
            for (int i = 0; i < calls; ++i) {
                const auto started = std::chrono::steady_clock::now();
                const std::string failure = rig.WithheldReply();
                seconds.push_back(Seconds(std::chrono::steady_clock::now() - started));
                if (!failure.empty())
                    throw std::runtime_error(std::string(kind.name) + ": " + failure);
            }
            std::sort(seconds.begin(), seconds.end());
            char line[160];
            std::snprintf(line, sizeof(line), "%s held: process() on a full batch returned after %.3f s "
                                              "(min) / %.3f s (median) / %.3f s (max) over %d calls",
                          kind.name, seconds.front(), seconds[seconds.size() / 2], seconds.back(), calls);
            out << line << std::endl;
        }
        const std::string failure = rig.EventReply();
        if (!failure.empty() || velta36bench::CountEventRows() != velta36bench::DecodeRig::kRecordsPerReply)
            throw std::runtime_error("after the lock: " + (failure.empty() ? "rows missing" : failure));
        out << "lock released: the next call stored the batch and acknowledged it" << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "velta36-bench-stall: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
