// A test of the collector against a PostgreSQL server of its own (one per
// test, each test a process of its own under CTest), with a fresh
// database, a clock the test moves by hand and the replay requests the
// collector made.
#ifndef VELTA36_TESTS_COLLECTOR_FIXTURE_H
#define VELTA36_TESTS_COLLECTOR_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "collector.h"
#include "postgres_server.h"

namespace velta36col {

const char* const kEpochA = "6f1c2a9e0b7d4e11";
const char* const kEpochB = "0123456789abcdef";

inline EventMessage Event(const std::string& site, const std::string& device, int64_t seq,
                          const std::string& epoch = kEpochA, int64_t row = 0)
{
    EventMessage event;
    event.site = site;
    event.device = device;
    event.dataId = 1;
    event.seq = seq;
    event.epoch = epoch;
    event.row = row > 0 ? row : seq;
    event.identity = epoch + ":" + std::to_string(event.row);
    event.time = "2024-03-05 07:" + std::string(seq % 60 < 10 ? "0" : "") + std::to_string(seq % 60) + ":00";
    event.channel = 1;
    event.type = 1;
    event.typeName = "granted_entry";
    event.card = "00001234";
    event.reason = "\xE5\x88\xB7\xE5\x8D\xA1\xE8\xBF\x9B\xE9\x97\xA8\xE6\x88\x90\xE5\x8A\x9F";   // 刷卡进门成功
    return event;
}

inline std::ostream& operator<<(std::ostream& out, const ReplayRequest& r)
{
    return out << r.site << "/" << r.device << " " << r.from << ".." << r.to;
}

inline bool operator==(const ReplayRequest& a, const ReplayRequest& b)
{
    return a.site == b.site && a.device == b.device && a.from == b.from && a.to == b.to;
}

class CollectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(velta36test::PostgresServer::Available())
            << "PostgreSQL 15's server is not installed (scripts/setup-debian.sh installs postgresql)";
        server = std::make_unique<velta36test::PostgresServer>();
        database = server->createDatabase();
    }

    ConnectionSettings settings() const { return ConnectionSettings{server->conninfo(database), std::nullopt}; }

    // Options on the test's clock, replay requests recorded, a generous
    // batch delay so that only poll()s after moving the clock commit.
    CollectorOptions options()
    {
        CollectorOptions o;
        o.clock = [this] { return now; };
        o.requestReplay = [this](const ReplayRequest& request) { replays.push_back(request); };
        o.log = [this](const std::string& line) { log.push_back(line); };
        return o;
    }

    std::unique_ptr<Collector> collector(CollectorOptions o)
    {
        return std::make_unique<Collector>(settings(), std::move(o));
    }

    // Accepts and commits every event given.
    static void store(Collector& c, const std::vector<EventMessage>& events)
    {
        for (const EventMessage& e : events)
            ASSERT_TRUE(c.accept(e));
        const Committed committed = c.flush();
        ASSERT_EQ(committed.tickets.size(), events.size());
        ASSERT_EQ(c.pending(), 0u);
    }

    static std::vector<EventMessage> Range(const std::string& site, const std::string& device, int64_t from,
                                           int64_t to)
    {
        std::vector<EventMessage> events;
        for (int64_t seq = from; seq <= to; ++seq)
            events.push_back(Event(site, device, seq));
        return events;
    }

    std::string sql(const std::string& statement) const { return server->execute(database, statement); }

    std::unique_ptr<velta36test::PostgresServer> server;
    std::string database;
    Clock::time_point now = Clock::time_point(std::chrono::seconds(1700000000));
    std::vector<ReplayRequest> replays;
    std::vector<std::string> log;
};

}  // namespace velta36col

#endif
