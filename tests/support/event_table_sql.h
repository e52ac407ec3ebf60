// The statement that makes the "velta36_event" table, as the plug-in's
// schema registration runs it: for tests that check the schema, and for
// those that fill an event file without the plug-in (the upstream's).
#ifndef VELTA36_TESTS_SUPPORT_EVENT_TABLE_SQL_H
#define VELTA36_TESTS_SUPPORT_EVENT_TABLE_SQL_H

namespace velta36test {

const char kEventTableDefinition[] =
    "CREATE TABLE \"velta36_event\" (\n"
    "  \"id\" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
    "  \"data_id\" INTEGER NOT NULL,\n"
    "  \"EventTime\" DATETIME NULL,\n"
    "  \"ReaderChannel\" INTEGER NOT NULL,\n"
    "  \"EventType\" INTEGER NOT NULL,\n"
    "  \"CardNo\" varchar(20) NOT NULL,\n"
    "  \"Reason\" varchar(20) NOT NULL)";

}  // namespace velta36test

#endif
