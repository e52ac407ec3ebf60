// VELTA36::InitSetting with arbitrary JSON. The JSON library's own
// exceptions (a value of the wrong type asked for as another) may leave,
// as they do for the host; anything else is a finding, and so is any
// sanitizer report. After the settings the device must still frame its
// requests: a polling request, a configuration download, the value query.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include <json/json.h>

#include "fuzz_rig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    velta36fuzz::Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velta36fuzz::Setup();
    const std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value config;
    Json::Reader reader;
    if (!reader.parse(text, config, true))
        return 0;

    {
        velta36test::TestHost rig;
        VELTA36& device = *rig.device;
        try {
            rig.configure(config);
        } catch (const Json::Exception&) {
            // The JSON library refused a conversion; the design lets it leave.
        }
        velta36fuzz::CheckDevice(rig, "InitSetting");
        try {
            device.Get_Value(device.DataId(), "door1");
        } catch (const std::out_of_range&) {
            // The value query always reports through this exception.
        }
        device.RefreshStatus();
        velta36fuzz::CheckDevice(rig, "RefreshStatus");
        int outRet = 0;
        device.DeviceIoControl(322, nullptr, 0, nullptr, 0, outRet);
        for (int i = 0; i < 18; ++i) {
            unsigned char ack[] = {'h', '/'};
            device.process(ack, sizeof(ack));
            velta36fuzz::CheckDevice(rig, "process");
        }
        velta36fuzz::CheckSent(rig, "InitSetting");
    }
    velta36fuzz::AfterInput();
    return 0;
}
