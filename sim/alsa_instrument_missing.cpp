// Built without ALSA: --alsa is refused with a reason.
#include "instrument_host.h"

#include <cstdio>

namespace sim_host {

int runOnAlsa(const SimOptions &, const sigset_t &)
{
    std::fprintf(stderr, "tarnwick-sim: built without ALSA sequencer support\n");
    return kExitNoServer;
}

} // namespace sim_host
