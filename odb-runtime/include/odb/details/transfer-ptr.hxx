// transfer_ptr<T>: hands ownership of a heap object to a callee, whether the
// caller holds it in a unique_ptr or as a plain pointer.
#ifndef ODB_DETAILS_TRANSFER_PTR_HXX
#define ODB_DETAILS_TRANSFER_PTR_HXX

#include <memory>

#include <odb/forward.hxx>

namespace odb {
namespace details {

template <typename T>
class transfer_ptr {
public:
    transfer_ptr() : p_(0) {}
    transfer_ptr(T* p) : p_(p) {}

    template <typename T1>
    transfer_ptr(std::unique_ptr<T1>&& p) : p_(p.release()) {}

    transfer_ptr(transfer_ptr&& x) : p_(x.transfer()) {}
    transfer_ptr(const transfer_ptr&) = delete;
    transfer_ptr& operator=(const transfer_ptr&) = delete;

    // An untransferred object dies with the carrier.
    ~transfer_ptr() { delete p_; }

    T* get() const { return p_; }

    T* transfer() {
        T* r(p_);
        p_ = 0;
        return r;
    }

private:
    T* p_;
};

}  // namespace details
}  // namespace odb

#endif
