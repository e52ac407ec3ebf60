#include "velta36sim/event_generator.h"

#include <algorithm>

#include "velta36sim/random.h"

namespace velta36sim {

namespace {

const int32_t kStaff = 24;   // cards that are swiped over the day

CivilTime AtMinute(const CivilTime& day, int32_t minuteOfDay)
{
    CivilTime t = day;
    t.hour = minuteOfDay / 60;
    t.minute = minuteOfDay % 60;
    t.second = 0;
    return t;
}

// Minute of the day for an entry or an exit: people arrive in the morning
// and after lunch and leave at lunch and in the evening; a few come and go
// at other hours.
int32_t SwipeMinute(Random& random, bool entry)
{
    const uint32_t pick = random.Below(10);
    if (pick == 0)
        return random.Between(9 * 60, 17 * 60);
    if (entry)
        return pick < 7 ? random.Between(7 * 60 + 30, 9 * 60 + 30) : random.Between(12 * 60 + 30, 13 * 60 + 30);
    return pick < 4 ? random.Between(11 * 60 + 30, 12 * 60 + 30) : random.Between(17 * 60, 19 * 60 + 30);
}

int32_t DaytimeMinute(Random& random)
{
    return random.Between(8 * 60, 18 * 60);
}

void PickRefusalFlags(Random& random, uint8_t& flags1, uint8_t& flags2)
{
    flags1 = 0;
    flags2 = 0;
    const uint32_t pick = random.Below(9);
    if (pick < 4)
        flags1 = static_cast<uint8_t>(1U << pick);
    else if (pick < 8)
        flags2 = static_cast<uint8_t>(1U << (pick - 4));
    else {
        flags1 = kFlag1AntiPassback;   // both bytes flagged: the second wins
        flags2 = kFlag2TimeZone;
    }
}

GeneratedEvent Generated(const EventRecord& record)
{
    GeneratedEvent event;
    event.record = record;
    event.trackingIndependent = record.TrackingIndependent();
    if (event.trackingIndependent)
        event.expected = ExpectedRowFor(record);
    return event;
}

}  // namespace

std::vector<GeneratedEvent> GenerateEvents(const GeneratorOptions& options)
{
    Random random(options.seed);
    const int32_t doors = options.doors == 1 ? 1 : 2;
    std::vector<uint16_t> staff;
    for (int32_t i = 0; i < kStaff; ++i)
        staff.push_back(static_cast<uint16_t>(random.Between(1000, 9999)));

    std::vector<EventRecord> records;
    const std::size_t wanted = options.count > 0 ? static_cast<std::size_t>(options.count) : 0;
    if (options.powerCycle && wanted >= 2) {
        const int32_t off = random.Between(5 * 60, 6 * 60);
        records.push_back(EventRecord::PowerOff(AtMinute(options.day, off)));
        records.push_back(EventRecord::PowerOn(AtMinute(options.day, off + random.Between(1, 20))));
    }
    while (records.size() < wanted) {
        const int32_t door = random.Between(1, doors);
        const uint32_t pick = random.Below(100);
        if (pick < 55) {
            const bool entry = random.Chance(0.5);
            const uint16_t card = staff[random.Below(kStaff)];
            records.push_back(EventRecord::GrantedSwipe(door, entry, card,
                                                        AtMinute(options.day, SwipeMinute(random, entry))));
        } else if (pick < 65) {
            const bool entry = random.Chance(0.6);
            uint8_t flags1 = 0;
            uint8_t flags2 = 0;
            PickRefusalFlags(random, flags1, flags2);
            records.push_back(EventRecord::RefusedCard(door, entry, staff[random.Below(kStaff)], flags1, flags2,
                                                       AtMinute(options.day, SwipeMinute(random, entry))));
        } else if (pick < 72) {
            const bool entry = random.Chance(0.7);
            const uint16_t stranger = static_cast<uint16_t>(random.Between(0, 9999));
            records.push_back(EventRecord::UnknownCard(door, entry, stranger,
                                                       AtMinute(options.day, DaytimeMinute(random))));
        } else if (pick < 88) {
            records.push_back(EventRecord::ExitButton(door, AtMinute(options.day, DaytimeMinute(random))));
        } else {
            // A door forced open and closed again a few minutes later; with
            // tracking-independent events only, just the closing.
            const int32_t opened = random.Between(0, 23 * 60 + 50);
            if (!options.trackingIndependentOnly && records.size() + 2 <= wanted)
                records.push_back(EventRecord::DoorOpened(door, AtMinute(options.day, opened)));
            records.push_back(EventRecord::DoorClosed(door, AtMinute(options.day, opened + random.Between(1, 9))));
        }
    }
    std::stable_sort(records.begin(), records.end(), [](const EventRecord& a, const EventRecord& b) {
        return ToSeconds(a.time) < ToSeconds(b.time);
    });

    std::vector<GeneratedEvent> events;
    for (const EventRecord& record : records)
        events.push_back(Generated(record));
    return events;
}

GeneratorOptions RealisticDay(uint64_t seed, int32_t doors)
{
    GeneratorOptions options;
    options.seed = seed;
    options.count = 60;
    options.doors = doors;
    options.powerCycle = true;
    return options;
}

std::vector<EventRecord> RecordsOf(const std::vector<GeneratedEvent>& events)
{
    std::vector<EventRecord> records;
    for (const GeneratedEvent& event : events)
        records.push_back(event.record);
    return records;
}

}  // namespace velta36sim
