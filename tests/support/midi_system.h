#pragma once

#include "simulator.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <string>

// The MIDI system the JACK and window tables run on, chosen at run time by
// TARNWICK_TEST_MIDI:
//   jack (default)  a private synchronous jackd (dummy backend, 48 kHz)
//   jack-async      the same, asynchronous, as users run it: a late client
//                   makes the server skip cycles
//   jack-realtime   the same, asynchronous and realtime (-R -P 70; root)
//   pipewire        the same JACK clients on a private headless PipeWire
//   alsa            the kernel's sequencer (inside the guest); no server, the
//                   instrument is tarnwick-sim --alsa ("Varnox 1" /
//                   "Varnox 1 MIDI 1"), its clock in microseconds
// A fixture owns its server (where the system has one) and one instrument.
// Everything it starts dies with the test process.
enum class MidiSystemKind
{
    Jack,
    PipeWire,
    Alsa,
    JackAsync,
    JackRealtime
};

// A set of systems, for a table row that only applies to some of them.
using MidiSystems = unsigned;
constexpr MidiSystems systemBit(MidiSystemKind k)
{
    return 1u << unsigned(k);
}
constexpr MidiSystems kAllSystems = 31u;
constexpr MidiSystems kServerSystems = kAllSystems & ~systemBit(MidiSystemKind::Alsa);

class MidiSystem
{
public:
    // The system TARNWICK_TEST_MIDI names; ends the process on an unknown name.
    static MidiSystemKind selected();
    static const char *name(MidiSystemKind kind);
    // The fixture for the selected system; ends the process with a message
    // when that system's fixture is not built yet. 0: the system's usual period.
    static std::unique_ptr<MidiSystem> create(unsigned periodFrames = 0);

    virtual ~MidiSystem() = default;
    virtual MidiSystemKind kind() const = 0;
    // Frames per cycle of a server (its period, or PipeWire's quantum); 0 where
    // the system has no cycles.
    virtual unsigned periodFrames() const = 0;

    // Starts the server and waits until clients can join (true at once where
    // the system has none).
    virtual bool startServer() = 0;
    // Ends the server with SIGTERM (terminated) or SIGKILL (killed). Only for
    // systems in kServerSystems.
    virtual void stopServer(int signal) = 0;

    // Starts the instrument with tarnwick-sim's options (--model, --no-ack, ...)
    // and waits until it is ready.
    bool startInstrument(const QStringList &options = {});
    Simulator &instrument() { return instrument_; }
    // SIGKILL: the instrument vanishes without a word and without a summary.
    void killInstrument() { instrument_.kill(); }
    // Cuts the updater's stream port off the instrument's input.
    virtual bool cutConnection() = 0;
    // Fills the server's port table (it has a fixed size) with ports of a
    // client of the fixture's own until only `leaveFree` more can be
    // registered, so that the registrations after those are refused; false
    // where the system has no such table. releasePorts() frees them again.
    virtual bool occupyPorts(int /*leaveFree*/) { return false; }
    virtual void releasePorts() {}
    // Waits (up to 3 s) until another program's input port takes connections:
    // a JACK client lists its ports before it is active.
    virtual bool waitForInput(const std::string &port) = 0;
    // Waits (up to 3 s) until a client of that name is on the server, or gone
    // from it; false where the system has no clients to look up.
    virtual bool waitForClient(const std::string & /*name*/, bool /*present*/) { return false; }

    // The class name in the stream port's messages on this system.
    QString outputClass() const
    {
        return kind() == MidiSystemKind::Alsa ? "MidiOutAlsa" : "MidiOutJack";
    }

    // How far a piece spacing may differ from 10 ms on this system, in
    // microseconds (spacings come in units of the summary's sample_rate).
    virtual double spacingToleranceMicros() const = 0;

protected:
    // Options the instrument needs on this system (--alsa on the sequencer).
    virtual QStringList instrumentMode() const { return {}; }

private:
    Simulator instrument_;
};
