// VELTA36::DeviceIoControl with arbitrary codes and argument bytes, then the
// command sequence it started driven by acknowledgements (or a refusal), and
// the result query.
//
// Input layout:
//   byte 0     code: index into kCodes; 0xFF takes the next 4 bytes as the code
//   byte 1     bits 0-4 acknowledgements to feed afterwards, bit 5 refuse
//              the last one, bits 6-7 output room for the query (0, 2, 4, 8)
//   byte 2     bit 0 two doors, bit 1 address 1
//   then       the argument text, all of it (no terminating NUL)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_rig.h"

namespace {

const int kCodes[] = {320, 322, 324, 326, 0, 1, 321, 328, -1, 5045};
const int kOutRoom[] = {0, 2, 4, 8};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    velta36fuzz::Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velta36fuzz::Setup();
    velta36fuzz::Input in(data, size);
    const uint8_t codeByte = in.byte();
    int code = 0;
    if (codeByte == 0xFF) {
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i)
            raw = (raw << 8) | in.byte();
        std::memcpy(&code, &raw, sizeof(code));
    } else {
        code = kCodes[codeByte % (sizeof(kCodes) / sizeof(kCodes[0]))];
    }
    const uint8_t drive = in.byte();
    const uint8_t settings = in.byte();
    // A copy of exactly the argument bytes, so that reading past them is a
    // heap overflow the sanitizer sees.
    const std::vector<unsigned char> argument = in.rest();
    std::unique_ptr<unsigned char[]> arg(new unsigned char[argument.size() + 1]);
    if (!argument.empty())
        std::memcpy(arg.get(), argument.data(), argument.size());

    {
        velta36test::TestHost rig;
        Json::Value config(Json::objectValue);
        config["address"] = settings & 2 ? 1 : 0;
        config["appSetting"]["doors"] = (settings & 1) ? 2 : 1;
        rig.configure(config);
        VELTA36& device = *rig.device;

        int outRet = -7;
        const int result = device.DeviceIoControl(code, arg.get(),
                                                  static_cast<int>(argument.size()), nullptr, 0, outRet);
        velta36fuzz::Require(result == 0 || result == -1 || result == -2,
                             "DeviceIoControl returned other than 0, -1, -2", "DeviceIoControl");
        velta36fuzz::CheckDevice(rig, "DeviceIoControl");

        const int acks = drive & 0x1F;
        for (int i = 0; i < acks; ++i) {
            std::string reply = (i + 1 == acks && (drive & 0x20)) ? "n/" : "h/";
            std::vector<unsigned char> bytes(reply.begin(), reply.end());
            const int r = device.process(bytes.data(), static_cast<unsigned int>(bytes.size()));
            velta36fuzz::Require(r == 0 || r == 1, "process returned neither 0 nor 1", "process");
            velta36fuzz::CheckDevice(rig, "process");
        }

        // The result query writes at most 4 bytes and only when there is room.
        const int room = kOutRoom[(drive >> 6) & 3];
        unsigned char out[8];
        std::memset(out, 0xA5, sizeof(out));
        int queryRet = -7;
        const int q = device.DeviceIoControl(1, nullptr, 0, out, room, queryRet);
        velta36fuzz::Require(q == 0, "result query did not return 0", "result query");
        velta36fuzz::Require(queryRet == (room >= 4 ? 4 : 0), "result query size", "result query");
        for (size_t i = room >= 4 ? 4 : 0; i < sizeof(out); ++i)
            velta36fuzz::Require(out[i] == 0xA5, "result query wrote past what it reported", "result query");
        velta36fuzz::CheckSent(rig, "DeviceIoControl");
    }
    velta36fuzz::AfterInput();
    return 0;
}
