// One door event as stored in the "velta36_event" table of ZRMDevice.db.
#ifndef VELTA36_STORE_VELTA36_EVENT_HXX
#define VELTA36_STORE_VELTA36_EVENT_HXX

#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/shared_ptr.hpp>
#include <odb/core.hxx>

#pragma db object pointer(boost::shared_ptr<velta36_event>) session
class velta36_event {
public:
    // ReaderChannel and EventType are set by every producer; they start at 0
    // so that no path can store an indeterminate value.
    velta36_event() : id(0), data_id(0), EventTime(), ReaderChannel(0), EventType(0), CardNo(), Reason() {}

#pragma db id auto
    unsigned int id;
    unsigned int data_id;
#pragma db type("DATETIME") null
    boost::posix_time::ptime EventTime;
    int ReaderChannel;
    int EventType;
#pragma db type("varchar(20)")
    std::string CardNo;
#pragma db type("varchar(20)")
    std::string Reason;
};

#endif
