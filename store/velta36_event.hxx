// One door event as stored in the "velta36_event" table of ZRMDevice.db.
#ifndef VELTA36_STORE_VELTA36_EVENT_HXX
#define VELTA36_STORE_VELTA36_EVENT_HXX

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>
#include <odb/core.hxx>

class velta36_event {
public:
    // ReaderChannel and EventType are set by every producer; they start at 0
    // so that no path can store an indeterminate value.
    velta36_event() : id(0), data_id(0), EventTime(), ReaderChannel(0), EventType(0), CardNo(), Reason() {}

    unsigned int id;
    unsigned int data_id;
    boost::posix_time::ptime EventTime;
    int ReaderChannel;
    int EventType;
    std::string CardNo;
    std::string Reason;
};

// The mapping, for the odb compiler: table "velta36_event", the id assigned
// by SQLite, the time bound as text in a DATETIME column that allows NULL.
// Kept in one block that only the odb compiler reads, so that ordinary
// compilers see no unknown pragmas.
#ifdef ODB_COMPILER
#pragma db object(velta36_event) pointer(boost::shared_ptr<velta36_event>) session
#pragma db member(velta36_event::id) id auto
#pragma db member(velta36_event::EventTime) type("DATETIME") null
#pragma db member(velta36_event::CardNo) type("varchar(20)")
#pragma db member(velta36_event::Reason) type("varchar(20)")
#endif

#endif
