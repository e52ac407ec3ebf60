#include "card_frames.h"

#include "frame_check.h"
#include "velta36.h"

namespace velta36 {

unsigned char* CardFrame(VELTA36& device, int number)
{
    unsigned char* const frames[kCardFrames] = {device.cardFrame1, device.cardFrame2, device.cardFrame3,
                                                device.cardFrame4, device.cardFrame5};
    return frames[number - 1];
}

void SealCardFrame(VELTA36& device, int number, int commandLength)
{
    device.CmdUserCrc(CardFrame(device, number), commandLength);
    device.cardFrameLength[number - 1] = commandLength + kCommandFrameOverhead;
}

int CardFrameLength(const VELTA36& device, int number)
{
    return device.cardFrameLength[number - 1];
}

}  // namespace velta36
