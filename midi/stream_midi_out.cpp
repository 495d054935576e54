#include "stream_midi_out.h"

// Placeholder until the streaming backends land: opens nothing, sends nothing.
class StreamBackend
{
};

StreamMidiOut::StreamMidiOut(RtMidi::Api api, const std::string &clientName)
    : RtMidiOut(api, clientName)
{
}

StreamMidiOut::~StreamMidiOut() throw() = default;

void StreamMidiOut::openStreamPort(unsigned int, const std::string &) {}

void StreamMidiOut::sendStream(const unsigned char *, size_t) {}

void StreamMidiOut::closePort() {}

bool StreamMidiOut::isPortOpen() const
{
    return false;
}
