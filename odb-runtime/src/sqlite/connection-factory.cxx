// Connection factories: a new connection each time, or a pool.
#include <sqlite3.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include <odb/sqlite/connection-factory.hxx>
#include <odb/sqlite/connection.hxx>
#include <odb/sqlite/database.hxx>

namespace odb {
namespace sqlite {

connection_factory::~connection_factory() {}

connection_ptr new_connection_factory::connect() { return connection_ptr(new connection(*db_)); }

// A connection handed out holds the pool only weakly: an idle connection
// remembers the handle it was last handed out with (it can make
// transactions on itself), and a strong hold there would keep the pool, and
// so the connection, alive for ever. A connection released after the pool
// is gone is simply closed.
struct connection_pool_factory::pool {
    pool(std::size_t max, std::size_t min) : max_connections(max), min_connections(min), in_use(0), waiters(0) {}

    ~pool() {
        for (std::size_t i(0); i != idle.size(); ++i)
            delete idle[i];
    }

    void release(connection* c) {
        std::unique_lock<std::mutex> l(mutex);
        --in_use;
        // A connection still inside a transaction must not serve the next one.
        bool clean(sqlite3_get_autocommit(c->handle()) != 0);
        bool keep(clean && (waiters != 0 || min_connections == 0 || idle.size() + in_use < min_connections));
        if (keep)
            idle.push_back(c);
        if (waiters != 0)
            available.notify_one();
        l.unlock();
        if (!keep)
            delete c;
    }

    std::mutex mutex;
    std::condition_variable available;
    std::vector<connection*> idle;
    std::size_t max_connections;
    std::size_t min_connections;
    std::size_t in_use;
    std::size_t waiters;
};

connection_pool_factory::connection_pool_factory(std::size_t max_connections, std::size_t min_connections)
    : pool_(std::make_shared<pool>(max_connections, min_connections)), extra_flags_(0) {}

void connection_pool_factory::database(database_type& db) {
    connection_factory::database(db);
    if ((db.flags() & SQLITE_OPEN_PRIVATECACHE) == 0)
        extra_flags_ |= SQLITE_OPEN_SHAREDCACHE;
}

connection_pool_factory::~connection_pool_factory() {}

connection_ptr connection_pool_factory::connect() {
    std::shared_ptr<pool> p(pool_);
    std::unique_lock<std::mutex> l(p->mutex);

    for (;;) {
        connection* c(0);
        if (!p->idle.empty()) {
            c = p->idle.back();
            p->idle.pop_back();
        } else if (p->max_connections == 0 || p->in_use < p->max_connections) {
            // Opened outside the lock; a failure to open leaves the pool as it was.
            ++p->in_use;
            l.unlock();
            try {
                c = new connection(*db_, extra_flags_);
            } catch (...) {
                l.lock();
                --p->in_use;
                throw;
            }
            return handOut(p, c);
        } else {
            ++p->waiters;
            p->available.wait(l);
            --p->waiters;
            continue;
        }

        ++p->in_use;
        return handOut(p, c);
    }
}

connection_ptr connection_pool_factory::handOut(const std::shared_ptr<pool>& p, connection* c) {
    std::weak_ptr<pool> owner(p);
    return connection_ptr(c, [owner](connection* x) {
        if (std::shared_ptr<pool> alive = owner.lock())
            alive->release(x);
        else
            delete x;
    });
}

}  // namespace sqlite
}  // namespace odb
