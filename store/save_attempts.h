// How a save of one event reports itself: the attempts it makes before it
// gives up, and the line each failed attempt writes on standard output.
// The store makes the attempts; the host counts the lines to tell a save
// that gave up (a batch left on the controller) from one a retry made good.
// C++14, no other header: the plug-in and the reference host include it.
#ifndef VELTA36_STORE_SAVE_ATTEMPTS_H
#define VELTA36_STORE_SAVE_ATTEMPTS_H

namespace velta36 {

// The first attempt and three more.
const int kSaveAttempts = 4;

// A failed attempt's line: one of these, then what the exception said.
const char* const kSaveFailureOdb = "SaveDoorEvent odb::exception:";
const char* const kSaveFailureStd = "SaveDoorEvent std::exception:";

}  // namespace velta36

#endif
