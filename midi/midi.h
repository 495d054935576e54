#pragma once

#include "library_messages.h"
#include "stream_midi_out.h"

#include <QObject>
#include <RtMidi.h>

#include <functional>
#include <vector>

// RtMidi's input, whose client of the MIDI service can be closed and opened
// again (see Midi::rejoinService).
class ServiceMidiIn : public RtMidiIn
{
public:
    using RtMidiIn::RtMidiIn;
    // Closes the port and RtMidi's client; lists no ports until join() works.
    void leave();
    // Opens RtMidi's client again, as the constructor does. When that fails
    // (throws), the object stays as leave() left it and can join later.
    void join(RtMidi::Api api, const std::string &clientName, unsigned int queueSizeLimit);
    // False from leave() until a join() succeeds.
    bool joined() const;

    void setCallback(RtMidiCallback callback, void *userData = nullptr)
    {
        RtMidiIn::setCallback(callback, userData);
        callbackSet_ = true;
    }
    // Only where one is set: RtMidi warns on standard error otherwise.
    void cancelCallback()
    {
        if (callbackSet_)
            RtMidiIn::cancelCallback();
        callbackSet_ = false;
    }

private:
    bool callbackSet_ = false;
};

// The MIDI transport: the input the instrument's replies arrive on and the
// output everything is sent through. The window calls both members directly;
// this object only owns them. Creating it opens no port.
class Midi : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *kInputClientName = "RtMidi Input Client";
    static constexpr const char *kOutputClientName = "RtMidi Output Client";
    static constexpr unsigned int kInputQueueSizeLimit = 100;

    // Both members on the API chooseApi() picks. This and chooseApi() first ask
    // PipeWire, where it runs, for a quantum at which an upload is vouched for
    // (midi/pipewire_quantum.h).
    Midi();
    // Both members on the given API (tests pin the API this way).
    explicit Midi(RtMidi::Api api);
    ~Midi() override;

    Midi(const Midi &) = delete;
    Midi &operator=(const Midi &) = delete;

    // Whether a port name belongs to an instrument the tool works with.
    using InstrumentPortTest = bool (*)(const std::string &portName);

    // The MIDI API both members use. RtMidi's own automatic choice gives up as
    // soon as one compiled API fails to start (ALSA without a sequencer throws
    // even when JACK is running), which would end the program before main().
    // So: try the compiled APIs in RtMidi's order, skip those that cannot be
    // created, take the first that lists an instrument's port (when a test is
    // given), else the first that has ports, else the first that was created,
    // else RtMidi's dummy API.
    static RtMidi::Api chooseApi(InstrumentPortTest isInstrumentPort = nullptr);

    // What probing an API found: -1 it cannot be created, 0 no ports, 1 ports,
    // 2 ports among which an instrument's.
    enum ProbeRank
    {
        kUnusable = -1,
        kNoPorts = 0,
        kPorts = 1,
        kInstrumentPorts = 2
    };
    using PortProbe = std::function<int(RtMidi::Api)>;
    // The selection rule of chooseApi() over given candidates and probe.
    static RtMidi::Api chooseApiAmong(const std::vector<RtMidi::Api> &candidates,
                                      const PortProbe &probe);
    // The probe chooseApi() uses: creates a throw-away input and output.
    static int probePorts(RtMidi::Api api, InstrumentPortTest isInstrumentPort = nullptr);

    // After the MIDI server went away under the process: closes both
    // members' ports and clients, then opens the clients again, so that the
    // server is found once it runs again. libjack keeps its per-process state,
    // broken by the server's end, until the last client of the process is
    // closed; RtMidi's clients of a server that is not running yet try again
    // at the next listing. A join that fails (throws) leaves the transport
    // listing no ports and serviceStopped() true, so the next listing tries
    // again.
    void rejoinService();
    // Whether the MIDI server stopped under the process, or the transport has
    // not joined it again since: nothing of it works until rejoinService().
    bool serviceStopped() const;

    ServiceMidiIn midiIn;
    StreamMidiOut midiOut;

private:
    Midi(RtMidi::Api api, const QuietMidiLibraries &whileJoining);

signals:
    // Kept for the interface; replies reach the window through the input callback.
    int MessageReceived(unsigned char *message);
};
