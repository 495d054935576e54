#pragma once

#include <vector>

// Decodes one incoming message (RtMidi input callback, MIDI input thread).
// Raises the acknowledgement flag on F0 id 05 F7 and stores the version and
// raises the version flag on F0 id 15 a b c F7, where id is the current device
// id; everything else is dropped. Never lowers a flag, never sends.
// The time stamp and the user data are not used.
void replyCallback(double timeStamp, std::vector<unsigned char> *message, void *userData);
