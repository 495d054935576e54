#include "stream_backend.h"

#include <chrono>
#include <cstring>
#include <thread>

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

namespace {
constexpr int kClosePauseMs = 100;
} // namespace

void StreamBackend::close()
{
    if (!open_)
        return;
    haltStream();
    // What the service still had in hand ends before the port goes, on every
    // platform as on Windows, whose stream needs the pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(kClosePauseMs));
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
