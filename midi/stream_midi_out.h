#pragma once

#include <RtMidi.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class StreamBackend;

// The MIDI output of the transport object: RtMidi's output for enumeration
// (getPortCount, getPortName), plus the streaming SysEx port that everything
// sent to the instrument goes through. The port plays each unit as timed events
// on the platform's MIDI service and returns when the unit has been played.
// Port numbers are those of this object's getPortCount()/getPortName().
//
// Where RtMidi's client takes part in every cycle of the service (JACK), it is
// closed while the stream port is open: it plays no part in a send, and a
// client the server waits for in each cycle can be late and fail the unit.
// It goes before the port opens; from then on the listing is the one the port
// was opened from, and the first listing once no port is open (after a close,
// or an open that failed) opens the client again.
class StreamMidiOut : public RtMidiOut
{
public:
    explicit StreamMidiOut(RtMidi::Api api = RtMidi::UNSPECIFIED,
                           const std::string &clientName = "RtMidi Output Client");
    ~StreamMidiOut() throw() override;

    void openStreamPort(unsigned int portNumber, const std::string &portName = "RtMidi Output");
    unsigned int getPortCount() override;
    std::string getPortName(unsigned int portNumber = 0) override;
    // Every destination's name, in the numbering of the two above.
    std::vector<std::string> listing();
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
    // Closes RtMidi's client by deleting its API object, and holds `standIn`
    // instead: never without one, RtMidi's calls go through it unchecked.
    void closeClient(MidiApi *standIn);
    void rejoinListingOnceClosed();

    std::unique_ptr<StreamBackend> backend_;
    std::string clientName_;
};
