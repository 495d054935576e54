#include "stream_midi_out.h"

#include "detached_midi_api.h"
#include "stream_backend.h"
#include "stream_backend_factory.h"

#include <utility>
#include <vector>

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
    : RtMidiOut(api, clientName), backend_(makeStreamBackend(getCurrentApi())),
      clientName_(clientName)
{
}

StreamMidiOut::~StreamMidiOut() throw()
{
    closePort();
}

void StreamMidiOut::openStreamPort(unsigned int portNumber, const std::string &portName)
{
    OutputPorts ports(*this);
    // The listing the port is opened from: the port's own clients add to it.
    std::vector<std::string> names;
    if (backend_->listingClientRunsEachCycle())
        names = listing();
    backend_->open(portNumber, portName, ports);
    if (backend_->listingClientRunsEachCycle())
        keepListing(std::move(names));
}

unsigned int StreamMidiOut::getPortCount()
{
    rejoinListingOnceClosed();
    return RtMidiOut::getPortCount();
}

std::string StreamMidiOut::getPortName(unsigned int portNumber)
{
    rejoinListingOnceClosed();
    return RtMidiOut::getPortName(portNumber);
}

std::vector<std::string> StreamMidiOut::listing()
{
    std::vector<std::string> names(getPortCount());
    for (unsigned int i = 0; i < names.size(); ++i)
        names[i] = getPortName(i);
    return names;
}

void StreamMidiOut::keepListing(std::vector<std::string> names)
{
    MidiApi *const kept = new ListingKeptMidiOutApi(getCurrentApi(), std::move(names));
    delete rtapi_; // closes RtMidi's client
    rtapi_ = kept;
}

void StreamMidiOut::rejoinListingOnceClosed()
{
    if (backend_->isOpen() || !dynamic_cast<ListingKeptMidiOutApi *>(rtapi_))
        return;
    try {
        join(getCurrentApi(), clientName_);
    } catch (const RtMidiError &) {
        // As after a failed rejoin of the service: nothing listed, and
        // serviceStopped() true, so the next listing tries again.
        MidiApi *const detached = new DetachedMidiOutApi(getCurrentApi());
        delete rtapi_;
        rtapi_ = detached;
    }
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
    clientName_ = clientName;
}

bool StreamMidiOut::joined() const
{
    return !isDetached(rtapi_);
}

bool StreamMidiOut::isPortOpen() const
{
    return backend_->isOpen();
}
