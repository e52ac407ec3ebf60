// The five card frame buffers of a card command (cardFrame1 to cardFrame5,
// numbered as their members) and the length each was built with. The
// builder (control/) records the length as it closes a frame; the step that
// sends the frame (acknowledged_steps.cpp) reads it there, so a frame's
// shape is written down once.
#ifndef VELTA36_PROTOCOL_CARD_FRAMES_H
#define VELTA36_PROTOCOL_CARD_FRAMES_H

class VELTA36;

namespace velta36 {

const int kCardFrames = 5;

// Card frame number (1 to 5).
unsigned char* CardFrame(VELTA36& device, int number);

// Closes card frame number after its commandLength command bytes (checksum
// characters and '/') and records the frame's length.
void SealCardFrame(VELTA36& device, int number, int commandLength);

// The length card frame number was built with; 0 when it never was.
int CardFrameLength(const VELTA36& device, int number);

}  // namespace velta36

#endif
