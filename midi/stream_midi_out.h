#pragma once

#include <RtMidi.h>

#include <cstddef>
#include <memory>
#include <string>

class StreamBackend;

// The MIDI output of the transport object: RtMidi's output for enumeration
// (getPortCount, getPortName), plus the streaming SysEx port that everything
// sent to the instrument goes through. The port plays each unit as timed events
// on the platform's MIDI service and returns when the unit has been played.
// Port numbers are those of this object's getPortCount()/getPortName().
class StreamMidiOut : public RtMidiOut
{
public:
    explicit StreamMidiOut(RtMidi::Api api = RtMidi::UNSPECIFIED,
                           const std::string &clientName = "RtMidi Output Client");
    ~StreamMidiOut() throw() override;

    void openStreamPort(unsigned int portNumber, const std::string &portName = "RtMidi Output");
    void sendStream(const unsigned char *data, size_t size);
    // Raises the port's own error when its MIDI service has stopped or its
    // destination has gone since the last send; cheap enough to poll.
    void checkStream() const;
    // Whether the MIDI service stopped under this process (see
    // StreamBackend::serviceStopped).
    bool serviceStopped() const;
    // See StreamBackend::unvouchedQuantum; 0 while no port is open.
    unsigned unvouchedQuantum() const;
    // Listens for that from now on, also while no port is open.
    void watchService();
    // Closes the port and every client this object has on its MIDI service,
    // and forgets that the service stopped; lists no ports until join() works.
    void leave();
    // Opens RtMidi's client of the service again, as the constructor does.
    // When that fails (throws), the object stays as leave() left it.
    void join(RtMidi::Api api, const std::string &clientName);
    // False from leave() until a join() succeeds.
    bool joined() const;
    // Closes the streaming port if it is open.
    void closePort() override;
    bool isPortOpen() const override;

private:
    std::unique_ptr<StreamBackend> backend_;
};
