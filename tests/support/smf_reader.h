#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The SysEx events of a standard MIDI file as arecordmidi writes them (SysEx
// and meta events only): each
// with its absolute tick and its bytes as they went over the wire (an F0
// event's bytes with the F0 in front, an F7 escape event's bytes as stored).
struct SmfSysex
{
    std::uint64_t tick = 0;
    std::vector<unsigned char> bytes;
};

struct SmfRecording
{
    unsigned ticksPerQuarter = 0;
    std::vector<SmfSysex> sysex;
};

// False, with a reason in `error`, when the file is not a well-formed SMF.
bool readSmfSysex(const std::string &path, SmfRecording &recording, std::string &error);
