#include "stream_backend_factory.h"

#include "stream_backend.h"

#if defined(TARNWICK_HAVE_JACK)
#include "jack_stream_backend.h"
#endif
#if defined(TARNWICK_HAVE_ALSA)
#include "alsa_stream_backend.h"
#endif
#if defined(TARNWICK_HAVE_WINMM)
#include "winmm_stream_backend.h"
#endif

namespace {

// For an API without a streaming service: opening checks the port number as
// everywhere, then says plainly that this API cannot stream.
class UnsupportedStreamBackend final : public StreamBackend
{
public:
    UnsupportedStreamBackend() : StreamBackend("StreamMidiOut") {}

protected:
    void openStream(unsigned, const std::string &, StreamPortList &) override
    {
        fail(StreamProblem::NoStreamService);
    }
    void playUnit(const unsigned char *, const stream_framing::Piece *, size_t) override {}
    void closeStream() override {}
};

} // namespace

std::unique_ptr<StreamBackend> makeStreamBackend(RtMidi::Api api)
{
    switch (api) {
#if defined(TARNWICK_HAVE_JACK)
    case RtMidi::UNIX_JACK:
        return std::make_unique<JackStreamBackend>();
#endif
#if defined(TARNWICK_HAVE_ALSA)
    case RtMidi::LINUX_ALSA:
        return std::make_unique<AlsaStreamBackend>();
#endif
#if defined(TARNWICK_HAVE_WINMM)
    case RtMidi::WINDOWS_MM:
        return std::make_unique<WinMMStreamBackend>();
#endif
    default:
        return std::make_unique<UnsupportedStreamBackend>();
    }
}
