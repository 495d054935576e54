#include "stream_midi_out.h"

#include "detached_midi_api.h"
#include "stream_backend.h"
#include "stream_backend_factory.h"

#include <utility>

namespace {

// The destinations as the window sees them: this output's own enumeration.
class OutputPorts final : public StreamPortList
{
public:
    explicit OutputPorts(RtMidiOut &out) : out_(out) {}
    unsigned count() override { return out_.getPortCount(); }
    std::string name(unsigned index) override { return out_.getPortName(index); }

private:
    RtMidiOut &out_;
};

} // namespace

StreamMidiOut::StreamMidiOut(RtMidi::Api api, const std::string &clientName)
    : RtMidiOut(api, clientName), backend_(makeStreamBackend(getCurrentApi()))
{
}

StreamMidiOut::~StreamMidiOut() throw()
{
    closePort();
}

void StreamMidiOut::openStreamPort(unsigned int portNumber, const std::string &portName)
{
    OutputPorts ports(*this);
    backend_->open(portNumber, portName, ports);
}

void StreamMidiOut::sendStream(const unsigned char *data, size_t size)
{
    backend_->send(data, size);
}

void StreamMidiOut::checkStream() const
{
    backend_->check();
}

void StreamMidiOut::closePort()
{
    backend_->close();
}

bool StreamMidiOut::serviceStopped() const
{
    return backend_->serviceStopped();
}

unsigned StreamMidiOut::unvouchedQuantum() const
{
    return backend_->isOpen() ? backend_->unvouchedQuantum() : 0;
}

void StreamMidiOut::watchService()
{
    backend_->watchService();
}

void StreamMidiOut::leave()
{
    closePort();
    backend_->leaveService();
    // Never without an API object: RtMidi's calls go through it unchecked.
    MidiApi *const detached = new DetachedMidiOutApi(getCurrentApi());
    delete rtapi_;
    rtapi_ = detached;
}

void StreamMidiOut::join(RtMidi::Api api, const std::string &clientName)
{
    StreamMidiOut fresh(api, clientName);
    std::swap(rtapi_, fresh.rtapi_);
}

bool StreamMidiOut::joined() const
{
    return !isDetached(rtapi_);
}

bool StreamMidiOut::isPortOpen() const
{
    return backend_->isOpen();
}
