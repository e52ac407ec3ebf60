// Three sites of three devices each, one mosquitto, one PostgreSQL and the
// real `velta36 collect` (one or two of them): after each trouble the
// central table must hold exactly the union of the sites' rows, compared by
// (site, device, row, card): nothing missing, nothing twice. Each prints a
// line "scenario ...: rows at the sites, rows central, missing, doubled,
// replays asked".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "collector_session.h"
#include "mosquitto_broker.h"
#include "postgres_server.h"
#include "simulated_site.h"
#include "temp_work_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using velta36test::SiteRow;

// The output of a command line (standard output and error together).
std::string Output(const std::string& command)
{
    std::string text;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    return text;
}

// Any collector of a group reads the answer of a request another one made:
// the range travels in the transaction, and answers to others are ignored.
TEST(ReplayTransaction, CarriesItsRangeAndRefusesOthers)
{
    int64_t from = 0, to = 0;
    ASSERT_TRUE(velta36col::ParseReplayTransaction(velta36col::ReplayTransaction(7, 10006, "0a1b2c3d4e5f6a7b.12"),
                                                   from, to));
    EXPECT_EQ(from, 7);
    EXPECT_EQ(to, 10006);
    for (const char* other : {"gap-1", "r-5-4-x", "r-0-4-x", "r-1-2", "r--1-2-x", "r-1-2-x-y", "r-1x-2-x",
                              "r-1-99999999999999999999-x", "op-7"})
        EXPECT_FALSE(velta36col::ParseReplayTransaction(other, from, to)) << other;
    EXPECT_EQ(velta36col::CollectorFilters("velta36", std::string("g")),
              (std::vector<std::string>{"$share/g/velta36/+/+/event", "velta36/+/+/state",
                                        "$share/g/velta36/+/response/replay"}));
}

// `velta36 collect` in a process of its own, its output in a file.
class CollectProcess {
public:
    CollectProcess(std::vector<std::string> args, std::string log) : args_(std::move(args)), log_(std::move(log))
    {
        start();
    }
    ~CollectProcess() { stop(SIGKILL); }

    void start()
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& arg : args_)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            std::freopen(log_.c_str(), "a", stdout);
            std::freopen(log_.c_str(), "a", stderr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    int stop(int signal)
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    std::string log() const
    {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int count(const std::string& needle) const
    {
        const std::string text = log();
        int n = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }

private:
    std::vector<std::string> args_;
    std::string log_;
    pid_t pid_ = -1;
};

struct Tally {
    std::size_t atSites = 0, central = 0, missing = 0, doubled = 0;
};

class CollectScenario : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!velta36test::PostgresServer::Available())
            GTEST_SKIP() << "PostgreSQL 15 server programs not installed";
        pg = std::make_unique<velta36test::PostgresServer>();
        database = pg->createDatabase();
    }

    void startBroker(velta36test::BrokerOptions options = {})
    {
        broker = std::make_unique<velta36test::MosquittoBroker>(options);
        for (const char* name : {"north", "south", "east"})
            sites.push_back(std::make_unique<velta36test::SimulatedSite>(name, 3, broker->url(), dir.file(name),
                                                                         VELTA36_UPSTREAM_CHILD));
        for (auto& site : sites)
            site->start();
    }

    CollectProcess& collect(const std::string& clientId, const std::string& share = "")
    {
        std::vector<std::string> args = {VELTA36_TOOL, "collect", "--mqtt", broker->url(), "--db",
                                         pg->conninfo(database), "--client-id", clientId, "--gap-grace", "1000",
                                         "--replay-retry", "3000"};
        if (!share.empty())
            args.insert(args.end(), {"--share", share});
        collectors.push_back(std::make_unique<CollectProcess>(args, dir.file(clientId + ".log")));
        waitUntilConnected(*collectors.back());
        return *collectors.back();
    }

    // Connected to both, the tables made and the subscriptions sent.
    static void waitUntilConnected(const CollectProcess& collector)
    {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < end && (collector.count("connected to PostgreSQL") == 0 ||
                                      collector.count("broker at 127.0.0.1") == 0))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));   // the SUBACK
    }

    // Events flowing: every site stores 5 rows each 20 ms until stopped.
    void startFlow()
    {
        flowing = true;
        flow = std::thread([this] {
            while (flowing) {
                for (auto& site : sites)
                    site->add(5);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    void stopFlow()
    {
        flowing = false;
        if (flow.joinable())
            flow.join();
    }

    Tally tally() const
    {
        std::map<std::string, int> expected, stored;
        for (const auto& site : sites)
            for (const SiteRow& row : site->rows())
                ++expected[row.site + "|" + row.device + "|" + std::to_string(row.row) + "|" + row.card];
        std::stringstream central(pg->execute(
            database, "SELECT site || '|' || device || '|' || site_row || '|' || card FROM velta36_events"));
        for (std::string line; std::getline(central, line);)
            ++stored[line];
        Tally t;
        for (const auto& entry : expected) {
            t.atSites += static_cast<std::size_t>(entry.second);
            if (!stored.count(entry.first))
                ++t.missing;
        }
        for (const auto& entry : stored) {
            t.central += static_cast<std::size_t>(entry.second);
            if (entry.second > 1 || !expected.count(entry.first))
                t.doubled += static_cast<std::size_t>(entry.second - (expected.count(entry.first) ? 1 : 0));
        }
        return t;
    }

    // Waits (at most two minutes) until the central table holds every row.
    Tally converge()
    {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(120);
        Tally t = tally();
        while ((t.missing > 0 || t.central != t.atSites) && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            t = tally();
        }
        return t;
    }

    int replaysAsked() const
    {
        int n = 0;
        for (const auto& c : collectors)
            n += c->count("to replay ");
        return n;
    }

    void expectExact(const std::string& name, std::size_t atLeast)
    {
        const Tally t = converge();
        std::cout << "scenario " << name << ": rows at the sites " << t.atSites << ", rows central " << t.central
                  << ", missing " << t.missing << ", doubled " << t.doubled << ", replays asked " << replaysAsked()
                  << std::endl;
        EXPECT_GE(t.atSites, atLeast);
        EXPECT_EQ(t.missing, 0u);
        EXPECT_EQ(t.doubled, 0u);
        EXPECT_EQ(t.central, t.atSites);
        if (HasFailure())
            for (const auto& c : collectors)
                std::cout << c->log() << std::endl;
    }

    void TearDown() override
    {
        stopFlow();
        collectors.clear();
        sites.clear();
    }

    velta36test::TempWorkDir dir;
    std::unique_ptr<velta36test::PostgresServer> pg;
    std::string database;
    std::unique_ptr<velta36test::MosquittoBroker> broker;
    std::vector<std::unique_ptr<velta36test::SimulatedSite>> sites;
    std::vector<std::unique_ptr<CollectProcess>> collectors;
    std::atomic<bool> flowing{false};
    std::thread flow;
};

TEST_F(CollectScenario, BrokerKilledAndRestartedWithoutPersistenceWhileEventsFlow)
{
    startBroker();
    CollectProcess& collector = collect("central");
    startFlow();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    broker->stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    broker->start();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stopFlow();
    expectExact("broker killed and restarted without persistence", 1000);
    EXPECT_GE(collector.count("lost the broker"), 1);
    EXPECT_GE(collector.count("back on the broker"), 1);
}

TEST_F(CollectScenario, QueueOfTenWhileTheCollectorIsAwayAndABacklogOfAThousandPerSite)
{
    velta36test::BrokerOptions options;
    options.maxQueuedMessages = 10;
    startBroker(options);
    CollectProcess& collector = collect("central");
    for (auto& site : sites)
        site->add(30);
    ASSERT_EQ(converge().missing, 0u);
    EXPECT_EQ(collector.stop(SIGTERM), 0);   // its session stays with the broker

    for (auto& site : sites)
        site->add(1000);
    std::this_thread::sleep_for(std::chrono::seconds(4));   // the sites publish; the broker keeps 10
    collector.start();
    waitUntilConnected(collector);
    expectExact("broker queue of 10, collector away, 1,000 per site", 3090);
    EXPECT_GE(replaysAsked(), 3);
}

TEST_F(CollectScenario, CollectorKilledMidBatchAndStartedAgain)
{
    startBroker();
    CollectProcess& collector = collect("central");
    startFlow();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    collector.stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    collector.start();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stopFlow();
    expectExact("collector killed mid-batch and started again", 1000);
}

TEST_F(CollectScenario, ATableRebuiltAndAFileReplacedWhileTheSitesRun)
{
    startBroker();
    collect("central");
    for (auto& site : sites)
        site->add(200);
    ASSERT_EQ(converge().missing, 0u);
    sites[0]->rebuildTable();
    sites[1]->replaceFile();
    for (auto& site : sites)
        site->add(200);
    ASSERT_EQ(converge().missing, 0u);
    sites[0]->replaceFile();
    sites[1]->rebuildTable();
    for (auto& site : sites)
        site->add(100);
    expectExact("tables rebuilt and files replaced", 1500);

    // The listing across sites: filters, newest first, the three formats.
    const std::string tool = std::string(VELTA36_TOOL) + " events --db '" + pg->conninfo(database) + "'";
    EXPECT_EQ(Output(tool + " --site south --device d2 --format csv --limit 2 --card 00000302"),
              "site,device,seq,identity,id,data_id,EventTime,ReaderChannel,EventType,CardNo,Reason,Device,TypeName\n"
              "south,d2,101,"
                  + pg->execute(database, "SELECT identity FROM velta36_events WHERE site = 'south' AND card = '00000302'") +
                  ",102,2,2024-03-05 07:08:00,1,1,00000302,刷卡进门成功,,granted in\n");
    const std::string table = Output(tool + " --site east --limit 3");
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3) << table;
    EXPECT_EQ(table.rfind("east/d", 0), 0u) << table;
    EXPECT_NE(Output(tool + " --format json --limit 1 --site north").find("\"site\":\"north\""), std::string::npos);
    EXPECT_EQ(Output(tool + " --site 'no/site'"),
              "velta36: --site \"no/site\" is not a site id (1 to 64 of A-Z a-z 0-9 _ -)\n");
    // Each table and file is an epoch of its own: north's first, rebuilt, replaced.
    EXPECT_EQ(pg->execute(database, "SELECT count(DISTINCT epoch) FROM velta36_events WHERE site = 'north' AND "
                                    "device = 'd1'"),
              "3");
}

TEST_F(CollectScenario, TwoCollectorsOnASharedSubscriptionOneKilledHalfway)
{
    startBroker();
    collect("central-a", "velta36");
    CollectProcess& second = collect("central-b", "velta36");
    startFlow();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    second.stop(SIGKILL);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stopFlow();
    expectExact("two collectors sharing, one killed halfway", 1000);
    EXPECT_GT(collectors[0]->count("connected to the broker"), 0);
}

}  // namespace
