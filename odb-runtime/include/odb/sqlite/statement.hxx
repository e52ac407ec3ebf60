// One prepared statement on a connection, for mapping code.
#ifndef ODB_SQLITE_STATEMENT_HXX
#define ODB_SQLITE_STATEMENT_HXX

#include <cstddef>
#include <string>

#include <odb/sqlite/forward.hxx>

struct sqlite3_stmt;

namespace odb {
namespace sqlite {

class statement {
public:
    // Prepares the text exactly as given. Parameters are numbered from 1,
    // columns from 0. Preparing and the first step of a run wait, through
    // the connection, for a table lock held by another connection of this
    // process's shared cache.
    statement(sqlite::connection& c, const char* text, std::size_t length);
    ~statement();

    // Makes the statement ready to run again: stops it wherever it is and
    // clears every parameter back to NULL.
    void reset();

    void bind_null(int parameter);
    void bind_integer(int parameter, long long value);
    void bind_text(int parameter, const std::string& value);

    // Runs to completion: the number of rows returned by a query, else the
    // number of rows changed. Every call below that fails leaves the
    // statement reset, so that it can run again.
    unsigned long long execute();

    // Runs an INSERT. Returns false when the row already exists, that is
    // when it fails a constraint while the caller binds the id itself. When
    // SQLite assigns the id (id_assigned), no constraint failure can mean an
    // existing row: it throws database_exception like any other error.
    bool insert(bool id_assigned);
    long long last_insert_id() const;

    // Steps a query; false when there are no more rows.
    bool next();
    bool column_null(int column) const;
    long long column_integer(int column) const;
    std::string column_text(int column) const;

private:
    statement(const statement&);
    statement& operator=(const statement&);

    // sqlite3_step, waiting out a table lock of the shared cache.
    int step();

    // Throws for a failed step, then resets the statement.
    [[noreturn]] void fail(int result);

    sqlite::connection& connection_;
    sqlite3_stmt* stmt_;
};

}  // namespace sqlite
}  // namespace odb

#endif
