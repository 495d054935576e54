#pragma once

#include <string>
#include <vector>

// An event as `jack_midi_dump -a` prints it: its absolute frame and bytes.
struct DumpedEvent
{
    long long frame;
    std::vector<unsigned char> bytes;
};

// Every event line of what `jack_midi_dump -a` wrote; other lines are passed
// over.
std::vector<DumpedEvent> readJackMidiDump(const std::string &path);
