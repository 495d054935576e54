#include "midi.h"

#include "detached_midi_api.h"
#include "library_messages.h"
#if defined(TARNWICK_HAVE_JACK)
#include "pipewire_quantum.h"
#endif

#include <utility>

Midi::Midi() : Midi(chooseApi()) {}

namespace {

// Before the process opens its first JACK client (the API probe's).
RtMidi::Api beforeFirstClient(RtMidi::Api api)
{
#if defined(TARNWICK_HAVE_JACK)
    pipewire_quantum::askForVouchedQuantum();
#endif
    return api;
}

} // namespace

// The libraries' messages of a service that is not running are kept, not
// printed, while both clients are made (the scope lives until the delegated
// constructor has run).
Midi::Midi(RtMidi::Api api) : Midi(beforeFirstClient(api), QuietMidiLibraries()) {}

Midi::Midi(RtMidi::Api api, const QuietMidiLibraries &)
    : midiIn(api, kInputClientName, kInputQueueSizeLimit), midiOut(api, kOutputClientName)
{
}

// Members go in reverse order: the output (closing its stream port), then the input.
Midi::~Midi() = default;

void Midi::rejoinService()
{
    const RtMidi::Api api = midiOut.getCurrentApi();
    const QuietMidiLibraries quiet;
    midiOut.leave();
    midiIn.leave();
    midiIn.join(api, kInputClientName, kInputQueueSizeLimit);
    midiOut.join(api, kOutputClientName);
}

bool Midi::serviceStopped() const
{
    return !midiIn.joined() || !midiOut.joined() || midiOut.serviceStopped();
}

void ServiceMidiIn::leave()
{
    callbackSet_ = false;
    // Never without an API object: RtMidi's calls go through it unchecked.
    MidiApi *const detached = new DetachedMidiInApi(getCurrentApi());
    delete rtapi_; // closes the port and the client
    rtapi_ = detached;
}

void ServiceMidiIn::join(RtMidi::Api api, const std::string &clientName,
                         unsigned int queueSizeLimit)
{
    ServiceMidiIn fresh(api, clientName, queueSizeLimit);
    std::swap(rtapi_, fresh.rtapi_);
}

bool ServiceMidiIn::joined() const
{
    return !isDetached(rtapi_);
}

RtMidi::Api Midi::chooseApi(InstrumentPortTest isInstrumentPort)
{
    beforeFirstClient(RtMidi::UNSPECIFIED);
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    const QuietMidiLibraries quiet;
    const RtMidi::Api chosen = chooseApiAmong(apis, [isInstrumentPort](RtMidi::Api api) {
        const int rank = probePorts(api, isInstrumentPort);
        static const char *const kFound[] = {"cannot be used", "no ports", "ports",
                                             "an instrument's ports"};
        noteMidiLibraryMessage("MIDI API " + RtMidi::getApiDisplayName(api) + ": " +
                               kFound[rank - kUnusable]);
        return rank;
    });
    noteMidiLibraryMessage("MIDI API in use: " + RtMidi::getApiDisplayName(chosen));
    return chosen;
}

RtMidi::Api Midi::chooseApiAmong(const std::vector<RtMidi::Api> &candidates, const PortProbe &probe)
{
    RtMidi::Api best = RtMidi::RTMIDI_DUMMY;
    int bestRank = kUnusable;
    for (RtMidi::Api api : candidates) {
        const int rank = probe(api);
        if (rank >= kInstrumentPorts)
            return api;
        if (rank > bestRank) {
            best = api;
            bestRank = rank;
        }
    }
    return best;
}

namespace {

bool listsInstrument(RtMidi &midi, Midi::InstrumentPortTest isInstrumentPort)
{
    const unsigned int count = midi.getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
        if (isInstrumentPort(midi.getPortName(i)))
            return true;
    }
    return false;
}

} // namespace

int Midi::probePorts(RtMidi::Api api, InstrumentPortTest isInstrumentPort)
{
    try {
        RtMidiIn in(api, kInputClientName, kInputQueueSizeLimit);
        // RtMidi silently substitutes another API for one it was not built with.
        if (in.getCurrentApi() != api)
            return kUnusable;
        RtMidiOut out(api, kOutputClientName);
        if (isInstrumentPort &&
            (listsInstrument(in, isInstrumentPort) || listsInstrument(out, isInstrumentPort)))
            return kInstrumentPorts;
        return in.getPortCount() + out.getPortCount() > 0 ? kPorts : kNoPorts;
    } catch (const RtMidiError &error) {
        noteMidiLibraryMessage(error.getMessage());
        return kUnusable;
    }
}
