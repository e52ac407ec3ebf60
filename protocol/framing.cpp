// Command frames: '@', address character, command bytes, four checksum
// characters, '/'.
#include "frame_check.h"
#include "velta36.h"

void VELTA36::CmdCrc(int len)
{
    CmdUserCrc(cmdBuffer, len);
    cmdLength = len + velta36::kCommandFrameOverhead;
}

void VELTA36::CmdUserCrc(unsigned char* buf, int len)
{
    const uint16_t sum = velta36::Sum16(buf + 2, len);
    velta36::WriteNibbles(sum, velta36::kCommandNibbleBase, buf + len + 2);
    buf[len + 6] = '/';
}
