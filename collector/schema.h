// The collector's tables in PostgreSQL, created when missing and migrated
// by version: the events of every site, the current state of each device,
// and the sequence books (progress and gaps) the gap tracker keeps there so
// that any collector, restarted or one of several, goes on from them.
#ifndef VELTA36_COLLECTOR_SCHEMA_H
#define VELTA36_COLLECTOR_SCHEMA_H

namespace velta36col {

class PgConnection;

const int kSchemaVersion = 1;

// Creates or migrates the tables; returns the version found before (0 for
// an empty database). Several collectors starting at once take turns on an
// advisory lock. Throws when the database has a newer version than this
// collector knows.
int EnsureSchema(PgConnection& connection);

}  // namespace velta36col

#endif
