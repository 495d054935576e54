#include "stream_backend.h"

#include <cstring>

using namespace stream_framing;

void StreamBackend::open(unsigned portNumber, const std::string &portName, StreamPortList &ports)
{
    if (open_) {
        warn(StreamProblem::AlreadyOpen);
        return;
    }
    const unsigned count = ports.count();
    if (count == 0)
        fail(StreamProblem::NoDestinations);
    if (portNumber >= count)
        fail(StreamProblem::InvalidPort, portNumber);
    openStream(portNumber, portName, ports);
    open_ = true;
}

void StreamBackend::send(const unsigned char *data, size_t size)
{
    if (!open_)
        return;
    if (size == 0) {
        warn(StreamProblem::EmptyUnit);
        return;
    }
    Piece pieces[kMaxPieces];
    const size_t count = frameUnit(size, pieces);
    if (count == 0)
        fail(StreamProblem::InvalidSize, size); // nothing past the unit copy is read

    unsigned char unit[kUnitCopyBytes] = {};
    std::memcpy(unit, data, size);
    playUnit(unit, pieces, count);
}

void StreamBackend::close()
{
    if (!open_)
        return;
    closeStream();
    open_ = false;
}

void StreamBackend::check() const
{
    if (!open_)
        return;
    if (const std::optional<StreamProblem> problem = loss())
        fail(*problem);
}
