// A VELTA36 at address 1 on the reference host, ready for control commands:
// the argument goes in as exactly its bytes, as the host passes it.
#ifndef VELTA36_TESTS_CONTROL_CONTROL_TEST_H
#define VELTA36_TESTS_CONTROL_CONTROL_TEST_H

#include <cstdint>
#include <cstring>
#include <string>

#include "control_codes.h"
#include "device_test.h"
#include "protocol_states.h"

class ControlTest : public velta36test::DeviceTest {
protected:
    void SetUp() override
    {
        rig.configure(std::string(R"({"address": 1})"));
        rig.clear();
    }

    int Control(int code, const std::string& argument)
    {
        int outRet = 77;
        const int result =
            rig.device->DeviceIoControl(code, argument.data(), static_cast<int>(argument.size()), nullptr, 0, outRet);
        EXPECT_EQ(77, outRet) << "commands leave outRet alone";
        return result;
    }

    // The result query with a 4-byte buffer: the reported controlResult.
    int32_t QueryResult()
    {
        unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        int outRet = -5;
        EXPECT_EQ(0, rig.device->DeviceIoControl(0, nullptr, 0, out, sizeof(out), outRet));
        EXPECT_EQ(4, outRet);
        int32_t reported = 0;
        std::memcpy(&reported, out, sizeof(reported));
        return reported;
    }

    // A sent command frame for the address character '1'.
    static std::string Frame(const std::string& payload) { return velta36test::CommandFrame(payload, '1'); }

    static std::string Buffer(const unsigned char* buffer, std::size_t length)
    {
        return std::string(reinterpret_cast<const char*>(buffer), length);
    }
};

#endif
