#pragma once

#include <string>
#include <vector>

// The MIDI libraries' own messages. While the transport tries each MIDI API
// and lists ports, ALSA, JACK and RtMidi report every service that is not
// running (no sequencer device, no JACK server) on standard error: screens of
// noise when nothing is wrong. Inside a QuietMidiLibraries scope they are kept
// instead (the last few hundred lines, for a report); outside one, and always
// with TARNWICK_VERBOSE=1 in the environment, they are printed as the
// libraries print them.
class QuietMidiLibraries
{
public:
    QuietMidiLibraries();
    ~QuietMidiLibraries();
    QuietMidiLibraries(const QuietMidiLibraries &) = delete;
    QuietMidiLibraries &operator=(const QuietMidiLibraries &) = delete;

private:
    bool quiet_;
};

// Keeps a line of our own among them (which MIDI API was tried and why it
// was not used); printed at once when verbose.
void noteMidiLibraryMessage(const std::string &line);

// The lines kept so far, oldest first.
std::vector<std::string> keptMidiLibraryMessages();

// Whether the libraries' messages are printed as they come.
bool midiLibrariesVerbose();
void setMidiLibrariesVerbose(bool verbose);
