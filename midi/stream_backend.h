#pragma once

#include "stream_error.h"
#include "stream_framing.h"

#include <cstddef>
#include <optional>
#include <string>

// The destinations a backend can open, in the numbering of the output the
// window enumerates (RtMidiOut's getPortCount/getPortName).
class StreamPortList
{
public:
    virtual ~StreamPortList() = default;
    virtual unsigned count() = 0;
    virtual std::string name(unsigned index) = 0;
};

// One platform's streaming SysEx output. This class holds what every platform
// does alike (state checks, the unit copy, the framing); a backend only opens
// its service, plays the framed events and closes.
class StreamBackend
{
public:
    explicit StreamBackend(const char *className) : className_(className) {}
    virtual ~StreamBackend() = default;
    StreamBackend(const StreamBackend &) = delete;
    StreamBackend &operator=(const StreamBackend &) = delete;

    void open(unsigned portNumber, const std::string &portName, StreamPortList &ports);
    // Returns when the unit has been played; fails (throws) otherwise.
    void send(const unsigned char *data, size_t size);
    void close();
    bool isOpen() const { return open_; }
    // Between units: reports what an open port already knows it has lost (its
    // service stopped, its destination vanished); returns when nothing.
    void check() const;
    const char *className() const { return className_; }
    // Whether this process has been told that the platform's MIDI service
    // stopped. Where the service cannot be joined again while the process
    // keeps a client of the old one (JACK), nothing of it works until every
    // client of the process is closed (see Midi::rejoinService).
    virtual bool serviceStopped() const { return false; }
    // Starts listening for the service's end, also while no port is open
    // (once the service runs; a no-op where the port itself hears its end).
    virtual void watchService() {}
    // Closes what watchService() opened and forgets the service's end: for
    // when the port is closed and every other client of the process goes too.
    virtual void leaveService() {}
    // While open: the frames a cycle of a MIDI service that would not tell
    // this port of a piece another client lost at that cycle's length
    // (PipeWire below the quantum of midi/pipewire_quantum.h); 0 otherwise.
    virtual unsigned unvouchedQuantum() const { return 0; }
    // Whether RtMidi's client that lists the destinations takes part in every
    // cycle of the service: then it is closed while the port is open (see
    // StreamMidiOut::openStreamPort).
    virtual bool listingClientRunsEachCycle() const { return false; }

protected:
    // Report through the one error table, under this backend's class name.
    [[noreturn]] void fail(StreamProblem problem, unsigned long long number = 0) const
    {
        failStreamProblem(className_, problem, number);
    }
    void warn(StreamProblem problem) const { warnStreamProblem(className_, problem); }
    // An open refused by the platform: `callAndResult` names the call and
    // what it returned, for the log.
    [[noreturn]] void failRefused(const std::string &callAndResult) const
    {
        failOpenRefused(className_, callAndResult);
    }

    // Opens the service on a valid destination; fails (throws)
    // and leaves nothing open then.
    virtual void openStream(unsigned portNumber, const std::string &portName,
                            StreamPortList &ports) = 0;
    // Plays `count` events of `unit` (kUnitCopyBytes long) and returns when the
    // last has been played. Must not allocate.
    virtual void playUnit(const unsigned char *unit, const stream_framing::Piece *pieces,
                          size_t count) = 0;
    // The first step of a close: drops whatever is still queued and stops the
    // stream. Never fails or warns.
    virtual void haltStream() {}
    // Releases everything openStream took. Never fails or warns.
    virtual void closeStream() = 0;
    // Cheap, non-blocking, never reports: ServiceStopped or DestinationLost
    // when the backend has been told so, nothing otherwise.
    virtual std::optional<StreamProblem> loss() const { return std::nullopt; }

private:
    const char *className_;
    bool open_ = false;
};
