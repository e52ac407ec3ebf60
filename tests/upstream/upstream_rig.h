// What the upstream's tests share: a scratch site (its ZRMDevice.db filled
// by the test as the plug-in would, and the upstream's state folder), the
// engine's options for a broker, a fake executor that records commands,
// and a ledger of the events a subscriber received.
#ifndef VELTA36_TESTS_UPSTREAM_RIG_H
#define VELTA36_TESTS_UPSTREAM_RIG_H

#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "event_table_sql.h"
#include "json_parse.h"
#include "mqtt_test_client.h"
#include "raw_database.h"
#include "temp_work_dir.h"
#include "upstream.h"

namespace uptest {

const char* const kCreateEventTable = velta36test::kEventTableDefinition;

// The site's event file, written as the plug-in writes it (WAL, one
// commit per batch here to keep the tests quick).
class SiteEvents {
public:
    explicit SiteEvents(const std::string& path, bool create = true) : path_(path)
    {
        if (create) {
            sqlite3* file = nullptr;   // made here; RawDatabase opens existing files only
            sqlite3_open_v2(path_.c_str(), &file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
            sqlite3_close(file);
            velta36test::RawDatabase db(path_);
            db.exec("PRAGMA journal_mode=WAL");
            db.exec(kCreateEventTable);
        }
    }

    // Adds `count` rows for the data id; returns the last row id.
    int64_t add(int64_t dataId, int count, int type = 1, const std::string& reason = "刷卡进门成功")
    {
        velta36test::RawDatabase db(path_);
        db.exec("BEGIN");
        for (int i = 0; i < count; ++i) {
            ++added_;
            db.exec("INSERT INTO velta36_event(data_id, EventTime, ReaderChannel, EventType, CardNo, Reason) VALUES (" +
                    std::to_string(dataId) + ", '2024-03-05 07:08:00', 1, " + std::to_string(type) + ", '" +
                    Card(added_) + "', '" + reason + "')");
        }
        db.exec("COMMIT");
        return added_;
    }

    static std::string Card(int64_t n)
    {
        char text[16];
        std::snprintf(text, sizeof(text), "%08lld", static_cast<long long>(n % 100000000));
        return text;
    }

    const std::string& path() const { return path_; }

private:
    std::string path_;
    int64_t added_ = 0;
};

// Records the commands it is given and answers each with `result`.
class FakeExecutor {
public:
    struct Call {
        std::string device;
        velta36up::Command command;
    };

    velta36up::CommandExecutor executor()
    {
        return [this](const std::string& device, const velta36up::Command& command) {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(Call{device, command});
            std::promise<velta36up::CommandOutcome> promise;
            promise.set_value(velta36up::CommandOutcome{true, 1, std::string()});
            return promise.get_future();
        };
    }

    std::vector<Call> calls() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Lines the engine logged, for the tests that count them.
class LogLines {
public:
    std::function<void(const std::string&)> sink()
    {
        return [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
            std::cerr << line << "\n";
        };
    }
    std::size_t count(const std::string& part) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const std::string& line : lines_)
            n += line.find(part) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

using velta36test::ParseJson;

// The events a subscriber got for one device, counted the way a consumer
// counts them: duplicates dropped by id, gaps found by seq.
struct Ledger {
    std::set<std::string> ids;
    std::set<int64_t> seqs;
    std::set<std::string> cards;   // the rows' own content, unique per row here
    uint64_t delivered = 0, duplicates = 0, replayed = 0;

    static Ledger Of(const std::vector<velta36test::ReceivedMessage>& messages, const std::string& topic)
    {
        Ledger ledger;
        for (const velta36test::ReceivedMessage& message : messages) {
            if (message.topic != topic)
                continue;
            const Json::Value event = ParseJson(message.payload);
            ++ledger.delivered;
            if (event["replayed"].asBool())
                ++ledger.replayed;
            if (!ledger.ids.insert(event["id"].asString()).second)
                ++ledger.duplicates;
            ledger.seqs.insert(event["seq"].asInt64());
            ledger.cards.insert(event["card"].asString());
        }
        return ledger;
    }

    // Sequence numbers from 1 to `last` that never arrived.
    std::vector<int64_t> missing(int64_t last) const
    {
        std::vector<int64_t> gaps;
        for (int64_t s = 1; s <= last; ++s) {
            if (seqs.count(s) == 0)
                gaps.push_back(s);
        }
        return gaps;
    }

    // The figures the issue asks every delivery test to print.
    void report(const std::string& scenario, uint64_t stored) const
    {
        const uint64_t lost = stored > cards.size() ? stored - cards.size() : 0;
        std::cout << "delivery " << scenario << ": stored " << stored << ", delivered " << delivered
                  << ", duplicates " << duplicates << ", replayed " << replayed << ", lost " << lost << std::endl;
    }
};

inline velta36up::DeviceInfo Device(const std::string& id, int64_t dataId, int doors = 2)
{
    return velta36up::DeviceInfo{id, id, dataId, doors};
}

}  // namespace uptest

#endif
