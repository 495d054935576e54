#pragma once

#include "stream_midi_out.h"

#include <string>
#include <vector>

// A data block unit as the protocol builds it: F0, 519 bytes of 7-bit data
// that differ with `seed`, F7, then three zero bytes.
std::vector<unsigned char> makeBlockUnit(unsigned seed);
// The version request unit, F0 id 15 F7.
std::vector<unsigned char> makeShortUnit(unsigned char id = 0x03);

// Index of the output port with this exact name in the output's numbering, or -1.
int outputIndexOf(StreamMidiOut &out, const std::string &name);

// Captures what is written to the standard error stream (file descriptor 2)
// between construction and text().
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    std::string text();

private:
    int saved_ = -1;
    int file_ = -1;
    bool done_ = false;
};

// Runs `send` and returns the RtMidiError it threw; type UNSPECIFIED with the
// message "no error" when it returned normally.
template <typename F> RtMidiError errorOf(F &&send)
{
    try {
        send();
    } catch (const RtMidiError &error) {
        return error;
    }
    return RtMidiError("no error", RtMidiError::UNSPECIFIED);
}
