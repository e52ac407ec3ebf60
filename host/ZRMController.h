// The host's controller: the owner of a serial line and the devices on it.
// The plug-in only receives a weak pointer to it in Init.
#ifndef VELTA36_HOST_ZRMCONTROLLER_H
#define VELTA36_HOST_ZRMCONTROLLER_H

#include <string>

class ZRMController {
public:
    ZRMController();
    virtual ~ZRMController();
    virtual const std::string& Name() const;

protected:
    std::string name_;
};

#endif
