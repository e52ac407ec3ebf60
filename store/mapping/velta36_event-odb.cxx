// Statements, value binding and schema creation of the "velta36_event" table.
#include "velta36_event-odb.hxx"

#include <cstddef>
#include <string>

#include <odb/boost/date-time/sqlite/posix-time-traits.hxx>
#include <odb/exceptions.hxx>
#include <odb/schema-catalog-impl.hxx>
#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/statement.hxx>
#include <odb/transaction.hxx>

namespace odb {

typedef access::object_traits_impl< ::velta36_event, id_sqlite> velta36_event_traits;

const char velta36_event_traits::persist_statement[] =
    "INSERT INTO \"velta36_event\" "
    "(\"id\", "
    "\"data_id\", "
    "\"EventTime\", "
    "\"ReaderChannel\", "
    "\"EventType\", "
    "\"CardNo\", "
    "\"Reason\") "
    "VALUES "
    "(?, ?, ?, ?, ?, ?, ?)";

const char velta36_event_traits::find_statement[] =
    "SELECT "
    "\"velta36_event\".\"id\", "
    "\"velta36_event\".\"data_id\", "
    "\"velta36_event\".\"EventTime\", "
    "\"velta36_event\".\"ReaderChannel\", "
    "\"velta36_event\".\"EventType\", "
    "\"velta36_event\".\"CardNo\", "
    "\"velta36_event\".\"Reason\" "
    "FROM \"velta36_event\" "
    "WHERE \"velta36_event\".\"id\"=?";

const char velta36_event_traits::update_statement[] =
    "UPDATE \"velta36_event\" "
    "SET "
    "\"data_id\"=?, "
    "\"EventTime\"=?, "
    "\"ReaderChannel\"=?, "
    "\"EventType\"=?, "
    "\"CardNo\"=?, "
    "\"Reason\"=? "
    "WHERE \"id\"=?";

const char velta36_event_traits::erase_statement[] =
    "DELETE FROM \"velta36_event\" "
    "WHERE \"id\"=?";

const char velta36_event_traits::query_statement[] =
    "SELECT "
    "\"velta36_event\".\"id\", "
    "\"velta36_event\".\"data_id\", "
    "\"velta36_event\".\"EventTime\", "
    "\"velta36_event\".\"ReaderChannel\", "
    "\"velta36_event\".\"EventType\", "
    "\"velta36_event\".\"CardNo\", "
    "\"velta36_event\".\"Reason\" "
    "FROM \"velta36_event\"";

const char velta36_event_traits::erase_query_statement[] = "DELETE FROM \"velta36_event\"";

const char velta36_event_traits::table_name[] = "\"velta36_event\"";

namespace {

sqlite::connection& current_connection() {
    return static_cast<sqlite::connection&>(transaction::current().connection());
}

// Binds the value columns from "data_id" to "Reason" starting at parameter
// first; the EventTime image has been made beforehand.
void bind_values(sqlite::statement& st, int first, const ::velta36_event& o, const std::string& time,
                 bool time_null) {
    st.bind_integer(first, static_cast<long long>(o.data_id));
    if (time_null)
        st.bind_null(first + 1);
    else
        st.bind_text(first + 1, time);
    st.bind_integer(first + 2, static_cast<long long>(o.ReaderChannel));
    st.bind_integer(first + 3, static_cast<long long>(o.EventType));
    st.bind_text(first + 4, o.CardNo);
    st.bind_text(first + 5, o.Reason);
}

// One use of a statement the connection keeps: resets it when the use ends,
// however it ends, so that a query left unfinished holds no read lock on
// the file while the connection waits for its next transaction.
class kept_statement {
public:
    kept_statement(sqlite::connection& c, const char* text, std::size_t length)
        : st_(c.cached_statement(text, length)) {}
    ~kept_statement() { st_.reset(); }

    sqlite::statement& operator*() { return st_; }
    sqlite::statement* operator->() { return &st_; }

private:
    kept_statement(const kept_statement&);
    kept_statement& operator=(const kept_statement&);

    sqlite::statement& st_;
};

}  // namespace

void velta36_event_traits::persist(database&, object_type& obj) {
    sqlite::connection& c(current_connection());

    std::string time;
    bool time_null(false);
    sqlite::ptime_text_traits::set_image(time, time_null, obj.EventTime);

    kept_statement st(c, persist_statement, sizeof(persist_statement) - 1);
    st->bind_null(1);
    bind_values(*st, 2, obj, time, time_null);

    // SQLite assigns the id, so the insert never finds an existing row: a
    // failed constraint is a database_exception.
    if (!st->insert(true))
        throw object_already_persistent();

    obj.id = static_cast<id_type>(st->last_insert_id());
}

bool velta36_event_traits::find(database&, const id_type& id, object_type& obj) {
    kept_statement st(current_connection(), find_statement, sizeof(find_statement) - 1);
    st->bind_integer(1, static_cast<long long>(id));
    if (!st->next())
        return false;

    obj.id = static_cast<id_type>(st->column_integer(0));
    obj.data_id = static_cast<unsigned int>(st->column_integer(1));
    std::string time(st->column_text(2));
    sqlite::ptime_text_traits::set_value(obj.EventTime, time.data(), time.size(), st->column_null(2));
    obj.ReaderChannel = static_cast<int>(st->column_integer(3));
    obj.EventType = static_cast<int>(st->column_integer(4));
    obj.CardNo = st->column_text(5);
    obj.Reason = st->column_text(6);
    return true;
}

void velta36_event_traits::update(database&, const object_type& obj) {
    std::string time;
    bool time_null(false);
    sqlite::ptime_text_traits::set_image(time, time_null, obj.EventTime);

    kept_statement st(current_connection(), update_statement, sizeof(update_statement) - 1);
    bind_values(*st, 1, obj, time, time_null);
    st->bind_integer(7, static_cast<long long>(obj.id));
    if (st->execute() == 0)
        throw object_not_persistent();
}

void velta36_event_traits::erase(database&, const id_type& id) {
    kept_statement st(current_connection(), erase_statement, sizeof(erase_statement) - 1);
    st->bind_integer(1, static_cast<long long>(id));
    if (st->execute() == 0)
        throw object_not_persistent();
}

// Drop pass 1 only asks for pass 2, which drops the table; create pass 1
// creates it. No further passes are wanted.
static bool create_schema(database& db, unsigned short pass, bool drop) {
    if (drop) {
        switch (pass) {
        case 1:
            return true;
        case 2:
            db.execute("DROP TABLE IF EXISTS \"velta36_event\"");
            return false;
        }
    } else {
        switch (pass) {
        case 1:
            db.execute(
                "CREATE TABLE \"velta36_event\" (\n"
                "  \"id\" INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,\n"
                "  \"data_id\" INTEGER NOT NULL,\n"
                "  \"EventTime\" DATETIME NULL,\n"
                "  \"ReaderChannel\" INTEGER NOT NULL,\n"
                "  \"EventType\" INTEGER NOT NULL,\n"
                "  \"CardNo\" varchar(20) NOT NULL,\n"
                "  \"Reason\" varchar(20) NOT NULL)");
            return false;
        }
    }
    return false;
}

// Registered when the library is loaded; the plug-in never runs it itself.
static const schema_catalog_create_entry create_schema_entry_(id_sqlite, "", &create_schema);

}  // namespace odb
