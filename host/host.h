// Everything a plug-in builds against.
#ifndef VELTA36_HOST_HOST_H
#define VELTA36_HOST_HOST_H

#include "Provider.h"
#include "VDeviceInterface.h"
#include "ZRMController.h"
#include "ZRMSPDevice.h"
#include "ZRMVDevice.h"
#include "ttime.h"

#endif
