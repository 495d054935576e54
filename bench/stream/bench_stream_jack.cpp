// Streaming output port on JACK: sends data block units the way an upload
// does (30 ms pause after each) on a private server at periods 64, 128, 256
// and 1024 (48 kHz; 1024 is PipeWire's default quantum), and prints the
// spacing of the pieces within each unit in frame time (min/median/p99/max,
// ms), wall time per send against the ideal 100 ms, CPU time per unit (whole
// process, and the sending thread alone), allocations per send, and the late
// cycles (xruns) the server reported.
//
// Usage: bench_stream_jack [units per period, default 200]
#include "allocation_counter.h"
#include "jack_midi_recorder.h"
#include "midi_system.h"
#include "stream_bench.h"
#include "stream_midi_out.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

bool runPeriod(unsigned period, int units)
{
    auto system = MidiSystem::create(period);
    if (!system->startServer()) {
        std::printf("period %u: server did not start\n", period);
        return false;
    }
    auto recorder = std::make_unique<JackMidiRecorder>();
    if (!recorder->open("Varnox Bench")) {
        std::printf("period %u: recorder did not open\n", period);
        return false;
    }
    StreamMidiOut out(RtMidi::UNIX_JACK, "RtMidi Output Client");
    unsigned index = 0;
    while (index < out.getPortCount() && out.getPortName(index) != "Varnox Bench:in")
        ++index;
    out.openStreamPort(index, "RtMidi Output");

    recorder->clear();
    const SendFigures figures = sendBlocks(out, units);
    out.closePort();
    recorder->waitFor(static_cast<size_t>(units) * 11, 1000);

    const auto events = recorder->events();
    const double msPerFrame = 1000.0 / recorder->sampleRate();
    std::vector<double> spacing;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        if ((i + 1) % 11 == 0)
            continue; // between units: the caller's pause, not the stream's
        spacing.push_back((events[i + 1].frame - events[i].frame) * msPerFrame);
    }
    if (spacing.empty()) {
        std::printf("period %u: no events recorded\n", period);
        return false;
    }
    std::printf("period %3u: %d units, %zu events (expected %d), xruns %u\n", period, units,
                events.size(), units * 11, recorder->xruns());
    printFigures(spacing, figures);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    bool ok = true;
    for (unsigned period : {64u, 128u, 256u, 1024u})
        ok = runPeriod(period, units) && ok;
    return ok ? 0 : 1;
}
