#include "stream_midi_out.h"

#include "detached_midi_api.h"
#include "stream_backend.h"
#include "stream_backend_factory.h"

#include <utility>
#include <vector>

namespace {

// The destinations as the window sees them: this output's own listing, taken
// once as the port opens.
class ListedPorts final : public StreamPortList
{
public:
    explicit ListedPorts(std::vector<std::string> names) : names_(std::move(names)) {}
    unsigned count() override { return static_cast<unsigned>(names_.size()); }
    std::string name(unsigned index) override
    {
        return index < names_.size() ? names_[index] : std::string();
    }
    const std::vector<std::string> &names() const { return names_; }

private:
    std::vector<std::string> names_;
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
    // Before the port's own clients add to the listing.
    ListedPorts ports(listing());
    // RtMidi's client goes first: the graph the port waits to settle in as it
    // opens is then the one its units play in.
    if (backend_->listingClientRunsEachCycle())
        closeClient(new ClientlessMidiOutApi(getCurrentApi(), ports.names()));
    backend_->open(portNumber, portName, ports);
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

void StreamMidiOut::closeClient(MidiApi *standIn)
{
    delete rtapi_;
    rtapi_ = standIn;
}

void StreamMidiOut::rejoinListingOnceClosed()
{
    const auto *clientless = dynamic_cast<ClientlessMidiOutApi *>(rtapi_);
    if (backend_->isOpen() || !clientless || clientless->detached())
        return;
    try {
        join(getCurrentApi(), clientName_);
    } catch (const RtMidiError &) {
        // As after a failed rejoin of the service: nothing listed, and
        // serviceStopped() true, so the next listing tries again.
        closeClient(new ClientlessMidiOutApi(getCurrentApi()));
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
    closeClient(new ClientlessMidiOutApi(getCurrentApi()));
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
