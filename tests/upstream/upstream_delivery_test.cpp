// Every stored row reaches a consumer with a kept session, against a real
// mosquitto: through a broker restart, the upstream killed mid-backlog, a
// broker away for long, and a broker that lost what it had accepted (the
// consumer then asks for the gap with replay). Each prints the figures:
// stored, delivered, duplicates, replayed, lost.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "upstream_broker_fixture.h"

using namespace uptest;

namespace {

const char* const kFrontEvents = "velta36/north/front/event";

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

// The engine in a child process (velta36-upstream-child), to be killed.
class ChildUpstream {
public:
    ChildUpstream(const std::string& db, const std::string& state, const Json::Value& settings)
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string json = Compact(settings);
            ::execl(VELTA36_UPSTREAM_CHILD, VELTA36_UPSTREAM_CHILD, db.c_str(), state.c_str(), json.c_str(),
                    "front:1:2", "back:2:1", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ChildUpstream() { kill(SIGKILL); }

    int kill(int signal)
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

// The last message the consumer got is the site's "offline".
bool SaysOffline(velta36test::TestMqttClient& consumer)
{
    return consumer.waitFor(
        [](const std::vector<velta36test::ReceivedMessage>& m) {
            return !m.empty() && m.back().topic == "velta36/north/status" && m.back().payload == "offline";
        },
        std::chrono::seconds(30));
}

}  // namespace

TEST_F(UpstreamBrokerTest, every_row_arrives_through_a_broker_restart_with_persistence)
{
    startBroker(Fleet(true));
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    startUpstream();
    site->add(1, 300);
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 300));

    // Accepted but not yet delivered when the broker stops: saved by it.
    site->add(1, 300);
    broker->stop(SIGTERM);
    site->add(1, 400);   // stored while the broker is away
    broker->start();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 1000)) << Ledger::Of(consumer.messages(), kFrontEvents).delivered;

    const Ledger ledger = Ledger::Of(consumer.messages(), kFrontEvents);
    ledger.report("broker restarted (SIGTERM, persistence on)", 1000);
    EXPECT_TRUE(ledger.missing(1000).empty());
    EXPECT_EQ(ledger.cards.size(), 1000u);
    EXPECT_EQ(ledger.replayed, 0u);
    EXPECT_EQ(lines.count("lost the connection"), 1u);
    EXPECT_EQ(lines.count("back on"), 1u);
    // The state is published again after the reconnect, and kept retained.
    auto hasLastSeq = [](const std::vector<velta36test::ReceivedMessage>& m) {
        return !m.empty() && m.back().payload.find("\"last_seq\":1000") != std::string::npos;
    };
    auto& watcher = central();
    watcher.subscribe("velta36/north/front/state");
    ASSERT_TRUE(watcher.waitFor(hasLastSeq, std::chrono::seconds(30)));
    auto& newcomer = central();
    newcomer.subscribe("velta36/north/front/state");
    ASSERT_TRUE(newcomer.waitFor(hasLastSeq, std::chrono::seconds(30)));
    EXPECT_TRUE(newcomer.messages().front().retained);
}

TEST_F(UpstreamBrokerTest, every_row_arrives_after_the_upstream_is_killed_in_a_backlog)
{
    startBroker(Fleet(true));
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    consumer.subscribe("velta36/north/status");
    site->add(1, 6000);
    site->add(2, 1000);
    const Json::Value settings = mqttSettings();
    {
        ChildUpstream child(site->path(), dir.file("upstream"), settings);
        ASSERT_TRUE(allArrived(consumer, kFrontEvents, 500));
        EXPECT_TRUE(WIFSIGNALED(child.kill(SIGKILL)));
    }
    // Its last will says the site is gone.
    ASSERT_TRUE(SaysOffline(consumer));
    const uint64_t beforeRestart = Ledger::Of(consumer.messages(), kFrontEvents).cards.size();
    site->add(1, 1000);
    ChildUpstream again(site->path(), dir.file("upstream"), settings);
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 7000));
    ASSERT_TRUE(allArrived(consumer, "velta36/north/back/event", 1000));
    EXPECT_EQ(again.kill(SIGTERM), 0);

    const Ledger front = Ledger::Of(consumer.messages(), kFrontEvents);
    const Ledger back = Ledger::Of(consumer.messages(), "velta36/north/back/event");
    std::cout << "killed after " << beforeRestart << " of the 6000 first events had arrived" << std::endl;
    front.report("upstream killed (SIGKILL) in a backlog, device front", 7000);
    back.report("upstream killed (SIGKILL) in a backlog, device back", 1000);
    EXPECT_TRUE(front.missing(7000).empty());
    EXPECT_TRUE(back.missing(1000).empty());
    EXPECT_EQ(front.cards.size(), 7000u);
    EXPECT_EQ(back.cards.size(), 1000u);
    EXPECT_LT(beforeRestart, 6000u) << "the kill came too late to cut into the backlog";
}

TEST_F(UpstreamBrokerTest, every_row_arrives_after_a_broker_away_longer_than_the_backlog_takes)
{
    startBroker(Fleet(true));
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    velta36up::Upstream& engine = startUpstream();
    ASSERT_TRUE(eventually([&] { return engine.stats().connected; }));
    broker->stop(SIGTERM);
    ASSERT_TRUE(eventually([&] { return !engine.stats().connected; }));
    for (int batch = 0; batch < 20; ++batch) {
        site->add(1, 100);
        engine.eventsMayHaveArrived();
    }
    // The whole backlog is numbered and kept while the broker is away.
    ASSERT_TRUE(eventually([&] { return engine.stats().assigned == 2000; }));
    EXPECT_EQ(engine.stats().acknowledged, 0u);
    EXPECT_TRUE(eventually([&] { return engine.stats().connectAttempts >= 3; })) << "no retries";
    broker->start();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 2000));
    EXPECT_TRUE(eventually([&] { return engine.stats().backlog == 0; }));

    const Ledger ledger = Ledger::Of(consumer.messages(), kFrontEvents);
    ledger.report("broker away while 2000 events were stored", 2000);
    EXPECT_TRUE(ledger.missing(2000).empty());
    EXPECT_EQ(ledger.duplicates, 0u);
}

TEST_F(UpstreamBrokerTest, a_broker_that_lost_accepted_events_is_made_good_by_replay)
{
    startBroker(Fleet(false));
    {
        // A kept session that is offline: the broker queues for it, in memory.
        auto& consumer = central(true, "collector");
        consumer.subscribe("velta36/north/+/event");
    }
    clients.clear();
    velta36up::Upstream& engine = startUpstream();
    site->add(1, 300);
    engine.eventsMayHaveArrived();
    // Accepted by the broker (PUBACK), so the cursor is past them...
    ASSERT_TRUE(eventually([&] { return engine.stats().acknowledged == 300; }));
    broker->stop(SIGKILL);   // ...and gone with it.
    broker->start();
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    consumer.subscribe("velta36/north/response/replay");
    site->add(1, 50);
    engine.eventsMayHaveArrived();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 50));

    Ledger ledger = Ledger::Of(consumer.messages(), kFrontEvents);
    const std::vector<int64_t> gap = ledger.missing(350);
    ASSERT_EQ(gap.size(), 300u);
    EXPECT_EQ(gap.front(), 1);
    EXPECT_EQ(gap.back(), 300);
    consumer.publish("velta36/north/request/replay",
                     R"({"transaction":"gap-1","device":"front","from":1,"to":300})");
    ASSERT_TRUE(consumer.waitFor(
        [](const std::vector<velta36test::ReceivedMessage>& m) {
            return !m.empty() && m.back().topic == "velta36/north/response/replay";
        },
        std::chrono::seconds(60)));
    const Json::Value response = ParseJson(consumer.messagesOn("velta36/north/response/replay").back().payload);
    EXPECT_EQ(response["status"].asString(), "ok");
    EXPECT_EQ(response["transaction"].asString(), "gap-1");
    EXPECT_EQ(response["count"].asInt(), 300);
    EXPECT_EQ(response["first"].asInt(), 1);
    EXPECT_EQ(response["last"].asInt(), 300);

    ledger = Ledger::Of(consumer.messages(), kFrontEvents);
    ledger.report("broker killed (SIGKILL, persistence off), gap replayed", 350);
    EXPECT_TRUE(ledger.missing(350).empty());
    EXPECT_EQ(ledger.replayed, 300u);
    EXPECT_EQ(ledger.cards.size(), 350u);
}

TEST_F(UpstreamBrokerTest, a_clean_stop_waits_for_the_broker_to_take_everything_stored)
{
    startBroker(Fleet(true));
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    consumer.subscribe("velta36/north/status");
    site->add(1, 2000);
    startUpstream();
    upstream->stop();   // at once: the backlog goes out first
    EXPECT_EQ(upstream->stats().backlog, 0u);
    EXPECT_EQ(lines.count("every stored event was acknowledged"), 1u);
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 2000));
    ASSERT_TRUE(SaysOffline(consumer));

    // Without a broker the stop gives up after one more attempt.
    broker->stop(SIGKILL);
    site->add(1, 10);
    startUpstream();
    const auto began = std::chrono::steady_clock::now();
    upstream->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
    EXPECT_EQ(lines.count("stopped with 10 events not acknowledged"), 1u);
}

TEST_F(UpstreamBrokerTest, a_refusing_broker_holds_the_cursor_until_it_accepts)
{
    velta36test::BrokerOptions fleet = Fleet();
    // The site may not write its events yet: PUBACK 0x87.
    std::string acl = FleetAcl();
    acl.replace(acl.find("pattern write velta36/%u/+/event\n"), 33, "");
    fleet.acl = acl;
    startBroker(fleet);
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/+/event");
    site->add(1, 50);
    velta36up::Upstream& engine = startUpstream();
    ASSERT_TRUE(eventually([&] { return engine.stats().refusedAcks > 0; }));
    EXPECT_EQ(engine.stats().acknowledged, 0u);
    EXPECT_EQ(engine.stats().backlog, 50u);
    EXPECT_TRUE(eventually([&] { return engine.stats().refusedAcks >= 40; })) << "not sent again";
    EXPECT_EQ(lines.count("the broker refused an event (Not authorized)"), 1u);
    broker->replaceAcl(FleetAcl());
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 50));
    EXPECT_TRUE(eventually([&] { return engine.stats().backlog == 0; }));
    EXPECT_EQ(lines.count("accepts events again"), 1u);
}

TEST_F(UpstreamBrokerTest, identities_stay_unique_across_a_rebuilt_table_a_replaced_file_and_lost_state)
{
    startBroker(Fleet());
    auto& consumer = central(true, "collector");
    consumer.subscribe("velta36/north/front/event");
    velta36up::Upstream& engine = startUpstream();
    site->add(1, 5);
    engine.eventsMayHaveArrived();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 5));

    // Table dropped and made anew: its rows count from 1 again.
    {
        velta36test::RawDatabase db(site->path());
        db.exec("DROP TABLE velta36_event");
        db.exec(kCreateEventTable);
    }
    site->add(1, 3);
    engine.eventsMayHaveArrived();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 8));

    // Another file put in place of the site's, as SQLite files must be
    // replaced: the old one's log and index go too.
    const std::string other = dir.file("replacement.db");
    SiteEvents replacement(other);
    replacement.add(1, 4);
    ::unlink((site->path() + "-wal").c_str());
    ::unlink((site->path() + "-shm").c_str());
    ASSERT_EQ(::rename(other.c_str(), site->path().c_str()), 0);
    engine.eventsMayHaveArrived();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 12));
    upstream.reset();

    // Started without its state: the file is published again, as a new
    // epoch (its numbers start again; its ids are new).
    velta36test::detail::RemoveTree(dir.file("upstream"));
    startUpstream();
    ASSERT_TRUE(allArrived(consumer, kFrontEvents, 16));
    auto& states = central();
    states.subscribe("velta36/north/front/state");
    EXPECT_TRUE(states.waitFor(
        [](const std::vector<velta36test::ReceivedMessage>& m) {
            return !m.empty() && m.back().payload.find("\"last_seq\":4,\"events_stored\":4}") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << (states.messages().empty() ? std::string("no state") : states.messages().back().payload);
    upstream.reset();

    const std::vector<velta36test::ReceivedMessage> events = consumer.messagesOn(kFrontEvents);
    std::vector<std::string> epochs;
    for (const auto& m : events) {
        const std::string epoch = ParseJson(m.payload)["epoch"].asString();
        if (epochs.empty() || epochs.back() != epoch)
            epochs.push_back(epoch);
    }
    EXPECT_EQ(epochs.size(), 4u) << "one epoch per table instance, and one for the lost state";
    const Ledger ledger = Ledger::Of(events, kFrontEvents);
    EXPECT_EQ(ledger.ids.size(), 16u);
    EXPECT_TRUE(ledger.missing(12).empty()) << "seq goes on across epochs";
    EXPECT_EQ(ParseJson(events[11].payload)["row"].asInt(), 4);
    EXPECT_EQ(ParseJson(events[12].payload)["seq"].asInt(), 1);
    EXPECT_EQ(lines.count("no earlier upstream state"), 2u);
    EXPECT_EQ(lines.count("the event table was made anew"), 1u);
    EXPECT_EQ(lines.count("ZRMDevice.db was replaced"), 1u);
}
