// Generates a controller's stored events from a seed: card swipes in and
// out, refused and unknown cards, exit buttons, forced doors and their
// closing, power off and on, at plausible times over one day.
#ifndef VELTA36SIM_EVENT_GENERATOR_H
#define VELTA36SIM_EVENT_GENERATOR_H

#include <cstdint>
#include <vector>

#include "velta36sim/civil_time.h"
#include "velta36sim/event_record.h"

namespace velta36sim {

struct GeneratorOptions {
    uint64_t seed = 1;
    int32_t count = 20;
    int32_t doors = 2;
    CivilTime day = CivilTime{2024, 3, 5, 0, 0, 0};   // only the date is used
    // Leave out door openings, whose decoding depends on earlier events,
    // so that every record has an ExpectedRow.
    bool trackingIndependentOnly = false;
    // Include a power-off / power-on pair (early in the morning).
    bool powerCycle = false;
};

struct GeneratedEvent {
    EventRecord record;
    bool trackingIndependent = false;
    ExpectedRow expected;   // meaningful only when trackingIndependent
};

// Records in time order. The same options always give the same records.
std::vector<GeneratedEvent> GenerateEvents(const GeneratorOptions& options);

// The demo preset: a working day at one controller, 60 events with a power
// cycle and a forced door.
GeneratorOptions RealisticDay(uint64_t seed, int32_t doors);

std::vector<EventRecord> RecordsOf(const std::vector<GeneratedEvent>& events);

}  // namespace velta36sim

#endif
