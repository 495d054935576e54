#include "detached_midi_api.h"

namespace {

// Nothing is listed, so nothing can be chosen: reached only by a caller that
// kept a port number from before the service was left.
const char kNotJoined[] = "the MIDI service has not been joined again; press Refresh.";

} // namespace

// No queue: nothing arrives without a client.
DetachedMidiInApi::DetachedMidiInApi(RtMidi::Api api) : MidiInApi(0), api_(api) {}

void DetachedMidiInApi::openPort(unsigned int, const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiIn::openPort: ") + kNotJoined);
}

void DetachedMidiInApi::openVirtualPort(const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiIn::openVirtualPort: ") + kNotJoined);
}

void DetachedMidiOutApi::openPort(unsigned int, const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiOut::openPort: ") + kNotJoined);
}

void DetachedMidiOutApi::openVirtualPort(const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiOut::openVirtualPort: ") + kNotJoined);
}

void DetachedMidiOutApi::sendMessage(const unsigned char *, size_t)
{
    error(RtMidiError::WARNING, std::string("RtMidiOut::sendMessage: ") + kNotJoined);
}

bool isDetached(MidiApi *api)
{
    return dynamic_cast<DetachedMidiInApi *>(api) != nullptr ||
           dynamic_cast<DetachedMidiOutApi *>(api) != nullptr;
}
