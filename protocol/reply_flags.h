#pragma once

#include <array>

// Flags raised by the reply callback (on RtMidi's input thread, see
// reply_callback.h) and polled by the senders (GUI thread). Only the callback raises a flag; each
// sender lowers its own flag just before it sends. All start at 0.

void clearAcknowledgement();
bool acknowledgementReceived();
// Used by the reply callback only.
void raiseAcknowledgement();

void clearVersionReceived();
bool versionReceived();
// Stores the three bytes and raises the flag in one step.
void storeVersionReply(unsigned char a, unsigned char b, unsigned char c);

// The bytes of the last reply stored (or set).
std::array<unsigned char, 3> versionBytes();
// The fallback when no reply comes (1, 0, 0); leaves the flag as it is.
void setVersionBytes(unsigned char a, unsigned char b, unsigned char c);
