// The handle each device object opens on the shared event database.
#ifndef VELTA36_STORE_EVENT_DATABASE_H
#define VELTA36_STORE_EVENT_DATABASE_H

#include <memory>

#include <odb/database.hxx>

// A new handle on "ZRMDevice.db" in the working directory, read-write, never
// created. Nothing is opened here: the file is opened when the first
// transaction begins, so this succeeds even when the file is missing.
std::shared_ptr<odb::database> OpenEventDatabase();

// A new handle opened like `old` (same file name, flags, foreign keys and
// VFS), with a pool of its own. A connection can stay broken after a fault
// although the file is fine again: it still writes to a file that was
// removed or replaced, or was opened read-only while the file was. The
// pool would hand the same connection out again; a new handle opens the
// file afresh.
std::shared_ptr<odb::database> ReopenEventDatabase(const odb::database& old);

#endif
