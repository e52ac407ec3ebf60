// The runtime's exception classes. what() texts are those of ODB 2.4.
#ifndef ODB_EXCEPTIONS_HXX
#define ODB_EXCEPTIONS_HXX

#include <string>

#include <odb/exception.hxx>

namespace odb {

struct null_pointer : exception {
    virtual const char* what() const throw();
    virtual null_pointer* clone() const;
};

struct already_in_transaction : exception {
    virtual const char* what() const throw();
    virtual already_in_transaction* clone() const;
};

struct not_in_transaction : exception {
    virtual const char* what() const throw();
    virtual not_in_transaction* clone() const;
};

struct transaction_already_finalized : exception {
    virtual const char* what() const throw();
    virtual transaction_already_finalized* clone() const;
};

struct already_in_session : exception {
    virtual const char* what() const throw();
    virtual already_in_session* clone() const;
};

struct not_in_session : exception {
    virtual const char* what() const throw();
    virtual not_in_session* clone() const;
};

struct session_required : exception {
    virtual const char* what() const throw();
    virtual session_required* clone() const;
};

// Errors after which the transaction may be retried.
struct recoverable : exception {
    virtual ~recoverable() throw();
};

struct connection_lost : recoverable {
    virtual const char* what() const throw();
    virtual connection_lost* clone() const;
};

struct timeout : recoverable {
    virtual const char* what() const throw();
    virtual timeout* clone() const;
};

struct deadlock : recoverable {
    virtual const char* what() const throw();
    virtual deadlock* clone() const;
};

struct object_not_persistent : exception {
    virtual const char* what() const throw();
    virtual object_not_persistent* clone() const;
};

struct object_already_persistent : exception {
    virtual const char* what() const throw();
    virtual object_already_persistent* clone() const;
};

struct object_changed : exception {
    virtual const char* what() const throw();
    virtual object_changed* clone() const;
};

struct result_not_cached : exception {
    virtual const char* what() const throw();
    virtual result_not_cached* clone() const;
};

// Errors reported by the database system; each back end derives its own.
struct database_exception : exception {
    virtual ~database_exception() throw();
};

struct unknown_schema : exception {
    explicit unknown_schema(const std::string& name);
    ~unknown_schema() throw();

    const std::string& name() const { return name_; }

    virtual const char* what() const throw();
    virtual unknown_schema* clone() const;

private:
    std::string name_;
    std::string what_;
};

}  // namespace odb

#endif
