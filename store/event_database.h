// The handle each device object opens on the shared event database.
#ifndef VELTA36_STORE_EVENT_DATABASE_H
#define VELTA36_STORE_EVENT_DATABASE_H

#include <memory>

#include <odb/database.hxx>

// A new handle on "ZRMDevice.db" in the working directory, read-write, never
// created. Nothing is opened here: the file is opened when the first
// transaction begins, so this succeeds even when the file is missing.
std::shared_ptr<odb::database> OpenEventDatabase();

#endif
