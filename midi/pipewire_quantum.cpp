#include "pipewire_quantum.h"

#include <jack/jack.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace pipewire_quantum {

bool libjackIsPipeWire()
{
    // "3.0.0.0 (using PipeWire 0.3.65)" from PipeWire's, "1.9.21" from jackd's.
    const char *version = jack_get_version_string();
    return version && std::strstr(version, "PipeWire");
}

bool tooSmall(unsigned frames, unsigned sampleRate)
{
    return uint64_t{frames} * kVouchedRate < uint64_t{kSmallestVouched} * sampleRate;
}

void askForVouchedQuantum()
{
    if (std::getenv("PIPEWIRE_LATENCY") || std::getenv("PIPEWIRE_QUANTUM") || !libjackIsPipeWire())
        return;
    // As a time, at 44.1 kHz: PipeWire rounds a quantum down to a power of
    // two, so 1024/48000 would give 512 frames on a graph at 44.1 kHz; this
    // gives 1024 at 44.1 and 48 kHz, 2048 at 96 kHz.
    setenv("PIPEWIRE_LATENCY", "1024/44100", 0);
}

} // namespace pipewire_quantum
