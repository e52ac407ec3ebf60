// odb::database: a database handle, independent of the back end.
#ifndef ODB_DATABASE_HXX
#define ODB_DATABASE_HXX

#include <cstddef>
#include <string>

#include <odb/forward.hxx>
#include <odb/traits.hxx>

namespace odb {

class database {
public:
    virtual ~database();

    // Makes the object persistent, writes the identifier the database
    // assigned into it and returns that identifier.
    template <typename T>
    typename object_traits<T>::id_type persist(T& object);

    // One statement on the connection of the current transaction.
    unsigned long long execute(const char* statement);
    unsigned long long execute(const std::string& statement);
    unsigned long long execute(const char* statement, std::size_t length);

    virtual transaction_impl* begin() = 0;

    database_id id() const { return id_; }

protected:
    explicit database(database_id id) : id_(id) {}

private:
    database(const database&);
    database& operator=(const database&);

    template <typename T, database_id DB>
    typename object_traits<T>::id_type persist_(T& object);

    database_id id_;
};

template <typename T>
inline typename object_traits<T>::id_type database::persist(T& object) {
    return persist_<T, id_common>(object);
}

template <typename T, database_id DB>
inline typename object_traits<T>::id_type database::persist_(T& object) {
    typedef object_traits_impl<T, DB> traits;
    traits::persist(*this, object);
    return traits::id(object);
}

}  // namespace odb

#endif
