// Reading the central table back across sites: each filter of `events`
// plus site and device, newest first, events without a time last.
#include "collector_fixture.h"

#include "central_events.h"

namespace velta36col {
namespace {

EventMessage Row(const char* site, const char* device, int64_t seq, const char* time, const char* card,
                 int32_t channel, int32_t type)
{
    EventMessage e = Event(site, device, seq);
    if (time)
        e.time = time;
    else
        e.time.reset();
    e.card = card;
    e.channel = channel;
    e.type = type;
    return e;
}

std::string Keys(const std::vector<CentralEvent>& events)
{
    std::string out;
    for (const CentralEvent& e : events)
        out += (out.empty() ? "" : " ") + e.site + "/" + e.device + "#" + std::to_string(e.seq);
    return out;
}

TEST_F(CollectorTest, TheReadersFiltersAndOrder)
{
    auto c = collector(options());
    store(*c, {
                  Row("north", "front", 1, "2024-03-05 07:00:00", "00000001", 1, 1),
                  Row("north", "front", 2, "2024-03-05 08:00:00", "00000002", 2, 2),
                  Row("north", "front", 3, "2024-03-05 08:00:00", "00000001", 1, 14),   // same second as #2
                  Row("north", "back", 1, "2024-03-06 00:00:00", "00000001", 3, 5),
                  Row("south", "front", 1, "2024-03-04 23:59:59", "00000003", 1, 1),
                  Row("south", "front", 2, nullptr, "00000001", 0, 9),                  // no time
                  Row("east", "gate", 7, "2024-03-05 12:00:00", "00000002", 2, 1),
              });
    CentralEventReader reader(settings());
    EXPECT_EQ(reader.count(), 7);

    const auto filter = [](auto change) {
        CentralFilter f;
        f.limit = -1;
        change(f);
        return f;
    };
    const struct {
        const char* name;
        CentralFilter filter;
        const char* expected;
    } cases[] = {
        {"all", filter([](CentralFilter&) {}),
         "north/back#1 east/gate#7 north/front#3 north/front#2 north/front#1 south/front#1 south/front#2"},
        {"limit", filter([](CentralFilter& f) { f.limit = 2; }), "north/back#1 east/gate#7"},
        {"since", filter([](CentralFilter& f) { f.since = "2024-03-05 08:00:00"; }),
         "north/back#1 east/gate#7 north/front#3 north/front#2"},
        {"until", filter([](CentralFilter& f) { f.until = "2024-03-05 07:59:59"; }), "north/front#1 south/front#1"},
        {"since and until",
         filter([](CentralFilter& f) {
             f.since = "2024-03-05 00:00:00";
             f.until = "2024-03-05 23:59:59";
         }),
         "east/gate#7 north/front#3 north/front#2 north/front#1"},
        {"card", filter([](CentralFilter& f) { f.card = "00000001"; }),
         "north/back#1 north/front#3 north/front#1 south/front#2"},
        {"channels", filter([](CentralFilter& f) { f.channels = {0, 3}; }), "north/back#1 south/front#2"},
        {"types", filter([](CentralFilter& f) { f.types = {14, 9}; }), "north/front#3 south/front#2"},
        {"site", filter([](CentralFilter& f) { f.sites = {"south"}; }), "south/front#1 south/front#2"},
        {"sites", filter([](CentralFilter& f) { f.sites = {"east", "south"}; }),
         "east/gate#7 south/front#1 south/front#2"},
        {"device across sites", filter([](CentralFilter& f) { f.devices = {"front"}; }),
         "north/front#3 north/front#2 north/front#1 south/front#1 south/front#2"},
        {"site and device",
         filter([](CentralFilter& f) {
             f.sites = {"north"};
             f.devices = {"front", "back"};
             f.card = "00000001";
             f.limit = 2;
         }),
         "north/back#1 north/front#3"},
        {"nothing", filter([](CentralFilter& f) { f.sites = {"west"}; }), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Keys(reader.newest(c.filter)), c.expected) << c.name;

    // Every column comes back as stored.
    CentralFilter one;
    one.sites = {"east"};
    const std::vector<CentralEvent> rows = reader.newest(one);
    ASSERT_EQ(rows.size(), 1u);
    const CentralEvent& e = rows[0];
    EXPECT_EQ(e.identity, std::string(kEpochA) + ":7");
    EXPECT_EQ(e.epoch, kEpochA);
    EXPECT_EQ(e.row, 7);
    EXPECT_EQ(e.dataId, 1);
    EXPECT_EQ(e.time, std::optional<std::string>("2024-03-05 12:00:00"));
    EXPECT_EQ(e.channel, 2);
    EXPECT_EQ(e.type, 1);
    EXPECT_EQ(e.typeName, "granted_entry");
    EXPECT_EQ(e.card, "00000002");
    EXPECT_EQ(e.reason, "刷卡进门成功");
    EXPECT_EQ(e.receivedAt.size(), std::string("2024-03-05 12:00:00.000000+00").size()) << e.receivedAt;

    // A quote in a filter is a value like any other, not SQL.
    EXPECT_TRUE(reader.newest(filter([](CentralFilter& f) { f.sites = {"x'); DROP TABLE velta36_events; --"}; }))
                    .empty());
    EXPECT_EQ(reader.count(), 7);
}

}  // namespace
}  // namespace velta36col
