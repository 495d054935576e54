#pragma once

#include <vector>

// Decodes one incoming message: RtMidi's input callback. RtMidi calls it on
// the thread that takes input from the MIDI system: under JACK the input
// client's process thread (real-time: a lock or an allocation there can make
// the server skip a cycle), on the ALSA sequencer RtMidi's own input thread,
// on Windows the driver's MIDI-in callback thread. So it only compares and
// stores: no lock, no allocation, no output (the version's debug line is
// written by the thread that sees the flag).
// Raises the acknowledgement flag on F0 id 05 F7 and stores the version and
// raises the version flag on F0 id 15 a b c F7, where id is the current device
// id; everything else is dropped. Never lowers a flag, never sends.
// The time stamp and the user data are not used.
void replyCallback(double timeStamp, std::vector<unsigned char> *message, void *userData);
