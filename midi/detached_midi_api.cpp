#include "detached_midi_api.h"

namespace {

// Nothing is listed, so nothing can be chosen: reached only by a caller that
// kept a port number from before the service was left.
const char kNotJoined[] = "the MIDI service has not been joined again; press Refresh.";
// RtMidi's own output is not used for sending, only for listing.
const char kStreamPortOpen[] = "the stream port is open; RtMidi's output client is closed.";

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

const char *ClientlessMidiOutApi::why() const
{
    return detached_ ? kNotJoined : kStreamPortOpen;
}

void ClientlessMidiOutApi::openPort(unsigned int, const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiOut::openPort: ") + why());
}

void ClientlessMidiOutApi::openVirtualPort(const std::string &)
{
    error(RtMidiError::DRIVER_ERROR, std::string("RtMidiOut::openVirtualPort: ") + why());
}

std::string ClientlessMidiOutApi::getPortName(unsigned int portNumber)
{
    // RtMidi's own backends answer a number out of range with an empty name.
    return portNumber < names_.size() ? names_[portNumber] : std::string();
}

void ClientlessMidiOutApi::sendMessage(const unsigned char *, size_t)
{
    error(RtMidiError::WARNING, std::string("RtMidiOut::sendMessage: ") + why());
}

bool isDetached(MidiApi *api)
{
    const auto *out = dynamic_cast<ClientlessMidiOutApi *>(api);
    return dynamic_cast<DetachedMidiInApi *>(api) != nullptr || (out && out->detached());
}
