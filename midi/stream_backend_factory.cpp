#include "stream_backend_factory.h"

#include "stream_backend.h"

#if defined(TARNWICK_HAVE_JACK)
#include "jack_stream_backend.h"
#endif
#if defined(TARNWICK_HAVE_ALSA)
#include "alsa_stream_backend.h"
#endif
#if defined(_WIN32)
#include "winmm_stream_backend.h"
#endif

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
#if defined(_WIN32)
    case RtMidi::WINDOWS_MM:
        return std::make_unique<WinMMStreamBackend>();
#endif
    default:
        return nullptr;
    }
}
