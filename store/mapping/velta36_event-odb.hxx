// Mapping of velta36_event onto the "velta36_event" table, written for the
// project's own runtime. With VELTA36_USE_SYSTEM_ODB the odb compiler
// generates a file of the same name from velta36_event.hxx instead.
#ifndef VELTA36_EVENT_ODB_HXX
#define VELTA36_EVENT_ODB_HXX

#include <odb/version.hxx>

#if (ODB_VERSION != 20400)
#error ODB runtime version mismatch
#endif

#include <cstddef>

#include <boost/shared_ptr.hpp>
#include <odb/core.hxx>
#include <odb/database.hxx>

#include "velta36_event.hxx"

namespace odb {

template <>
class access::object_traits< ::velta36_event> {
public:
    typedef ::velta36_event object_type;
    typedef ::boost::shared_ptr< ::velta36_event> pointer_type;
    typedef unsigned int id_type;

    static const bool auto_id = true;

    static id_type id(const object_type& o) { return o.id; }
};

template <>
class access::object_traits_impl< ::velta36_event, id_sqlite> : public access::object_traits< ::velta36_event> {
public:
    static const char persist_statement[];
    static const char find_statement[];
    static const char update_statement[];
    static const char erase_statement[];
    static const char query_statement[];
    static const char erase_query_statement[];
    static const char table_name[];

    // Inserts with a NULL "id" so that SQLite assigns it, then writes the
    // new identifier into the object. A failed constraint throws
    // odb::sqlite::database_exception (an assigned id never repeats, so it
    // is never object_already_persistent); an infinite EventTime throws
    // odb::boost::date_time::special_value before anything is written.
    static void persist(database& db, object_type& obj);

    // Loads the row with the given identifier; false when there is none.
    static bool find(database& db, const id_type& id, object_type& obj);

    // Both throw object_not_persistent when the row does not exist.
    static void update(database& db, const object_type& obj);
    static void erase(database& db, const id_type& id);
};

template <>
class access::object_traits_impl< ::velta36_event, id_common>
    : public access::object_traits_impl< ::velta36_event, id_sqlite> {};

}  // namespace odb

#endif
