// tarnwick-sim: a simulated Varnox or Solune, for tests, demos and anyone
// without the hardware, on JACK MIDI or on the ALSA sequencer (--alsa).
#include "instrument_host.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char **argv)
{
    SimOptions options;
    std::string error;
    if (!parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tarnwick-sim: %s\n%s", error.c_str(), simUsage());
        return sim_host::kExitUsage;
    }
    if (options.help) {
        std::fputs(simUsage(), stdout);
        return sim_host::kExitOk;
    }

    // Signals are taken by sigtimedwait on this thread only; the MIDI
    // system's threads, created later, inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    return options.alsa ? sim_host::runOnAlsa(options, signals)
                        : sim_host::runOnJack(options, signals);
}
