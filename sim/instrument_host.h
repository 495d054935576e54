#pragma once

#include "sim_device.h"
#include "sim_options.h"
#include "sim_stats.h"

#include <csignal>
#include <string>

// What the two hosts of the simulated instrument (JACK and the ALSA
// sequencer) share: the exit codes, the identity in the summary and the
// summary and image files. Each host runs the SimDevice on its MIDI system
// until a signal, the block limit or the loss of the service ends it.
namespace sim_host {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoServer = 3;
constexpr int kExitServerGone = 4;
constexpr int kExitIo = 5;

SimConfig configOf(const SimOptions &options);
// `clockRate`: the units per second of the host's clock (JACK frames, or
// microseconds on the sequencer), in which piece times are reported.
SimStats::Identity identityOf(const SimOptions &options, const SimConfig &config,
                              const std::string &clientName, std::uint32_t clockRate);
// Writes the summary and the image the options ask for; false on an I/O error.
bool writeOutputs(const SimOptions &options, const SimStats &stats);
// Prints the READY line the tests and the demo wait for.
void announceReady(const std::string &clientName);
// Prints "SEEN N" once, when the stats hold the N-th piece of --tell-at N.
void tellIfSeen(const SimOptions &options, const SimStats &stats, bool &told);

// Both block until the instrument stops; `signals` are blocked on the calling
// thread and taken with sigtimedwait (SIGTERM, SIGINT: stop; SIGUSR1: write the
// summary now).
int runOnJack(const SimOptions &options, const sigset_t &signals);
int runOnAlsa(const SimOptions &options, const sigset_t &signals);

} // namespace sim_host
