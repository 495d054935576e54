#include "midi.h"

Midi::Midi() : Midi(chooseApi()) {}

Midi::Midi(RtMidi::Api api)
    : midiIn(api, kInputClientName, kInputQueueSizeLimit), midiOut(api, kOutputClientName)
{
}

// Members go in reverse order: the output (closing its stream port), then the input.
Midi::~Midi() = default;

RtMidi::Api Midi::chooseApi()
{
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return chooseApiAmong(apis, probePorts);
}

RtMidi::Api Midi::chooseApiAmong(const std::vector<RtMidi::Api> &candidates, const PortProbe &probe)
{
    RtMidi::Api firstUsable = RtMidi::RTMIDI_DUMMY;
    bool haveUsable = false;
    for (RtMidi::Api api : candidates) {
        const int ports = probe(api);
        if (ports < 0)
            continue;
        if (ports > 0)
            return api;
        if (!haveUsable) {
            firstUsable = api;
            haveUsable = true;
        }
    }
    return firstUsable;
}

int Midi::probePorts(RtMidi::Api api)
{
    try {
        RtMidiIn in(api, kInputClientName, kInputQueueSizeLimit);
        // RtMidi silently substitutes another API for one it was not built with.
        if (in.getCurrentApi() != api)
            return -1;
        RtMidiOut out(api, kOutputClientName);
        return static_cast<int>(in.getPortCount() + out.getPortCount());
    } catch (const RtMidiError &) {
        return -1;
    }
}
