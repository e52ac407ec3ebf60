#include "schema.h"

#include <string>

#include "pg_connection.h"

namespace velta36col {

namespace {

// Any number unlikely to be taken by another application of the database.
const char* const kMigrationLock = "SELECT pg_advisory_xact_lock(7036210021)";

// Version 1. Site and device ids and the identity compare byte by byte
// ("C"): the same order in every collector, whatever the database's locale,
// and the cheapest comparison. Event times keep the site's text
// ("YYYY-MM-DD hh:mm:ss", the controller's local time), which sorts as the
// time does.
const char* const kVersion1 = R"SQL(
CREATE TABLE velta36_events (
    site        text COLLATE "C" NOT NULL,
    device      text COLLATE "C" NOT NULL,
    identity    text COLLATE "C" NOT NULL,
    data_id     bigint NOT NULL,
    seq         bigint NOT NULL,
    epoch       text COLLATE "C" NOT NULL,
    site_row    bigint NOT NULL,
    event_time  text COLLATE "C",
    channel     integer NOT NULL,
    event_type  integer NOT NULL,
    type_name   text NOT NULL,
    card        text COLLATE "C" NOT NULL,
    reason      text NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (site, device, identity)
);
CREATE INDEX velta36_events_time ON velta36_events (event_time DESC NULLS LAST, seq DESC);
CREATE INDEX velta36_events_card ON velta36_events (card, event_time DESC NULLS LAST);
CREATE INDEX velta36_events_site ON velta36_events (site, event_time DESC NULLS LAST);
CREATE INDEX velta36_events_seq  ON velta36_events (site, device, seq);

CREATE TABLE velta36_device_state (
    site            text COLLATE "C" NOT NULL,
    device          text COLLATE "C" NOT NULL,
    data_id         bigint,
    online          boolean,
    doors           integer,
    door1           text,
    door2           text,
    database_fault  boolean,
    last_round      timestamptz,
    state_last_seq  bigint,
    events_stored   bigint,
    state_at        timestamptz,
    last_event_time text COLLATE "C",
    last_seq        bigint,
    last_event_at   timestamptz,
    PRIMARY KEY (site, device)
);

CREATE TABLE velta36_device_progress (
    site           text COLLATE "C" NOT NULL,
    device         text COLLATE "C" NOT NULL,
    start_seq      bigint,
    highest_seq    bigint NOT NULL DEFAULT 0,
    contiguous_seq bigint NOT NULL DEFAULT 0,
    updated_at     timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (site, device)
);

CREATE TABLE velta36_gaps (
    site        text COLLATE "C" NOT NULL,
    device      text COLLATE "C" NOT NULL,
    from_seq    bigint NOT NULL,
    to_seq      bigint NOT NULL,
    first_seen  timestamptz NOT NULL,
    asked_at    timestamptz,
    asked_to    bigint NOT NULL DEFAULT 0,
    asks        integer NOT NULL DEFAULT 0,
    unavailable boolean NOT NULL DEFAULT false,
    PRIMARY KEY (site, device, from_seq),
    FOREIGN KEY (site, device) REFERENCES velta36_device_progress (site, device) ON DELETE CASCADE
);
CREATE INDEX velta36_gaps_open ON velta36_gaps (first_seen) WHERE NOT unavailable;
)SQL";

// Index i holds the step from version i to i + 1.
const char* const kMigrations[] = {kVersion1};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kSchemaVersion, "one step per version");

}  // namespace

int EnsureSchema(PgConnection& connection)
{
    connection.script("BEGIN");
    try {
        connection.exec(kMigrationLock);
        connection.script("CREATE TABLE IF NOT EXISTS velta36_schema (version integer NOT NULL, "
                          "migrated_at timestamptz NOT NULL DEFAULT now())");
        PgResult found = connection.exec("SELECT COALESCE(MAX(version), 0) FROM velta36_schema");
        const int before = static_cast<int>(found.integer(0, 0));
        if (before > kSchemaVersion)
            throw PgError("the database holds the collector's tables at version " + std::to_string(before) +
                              ", newer than this collector (" + std::to_string(kSchemaVersion) + ")",
                          "", false);
        for (int version = before; version < kSchemaVersion; ++version) {
            connection.script(kMigrations[version]);
            connection.exec("INSERT INTO velta36_schema (version) VALUES ($1)", {std::to_string(version + 1)});
        }
        connection.script("COMMIT");
        return before;
    } catch (...) {
        connection.rollbackQuietly();
        throw;
    }
}

}  // namespace velta36col
