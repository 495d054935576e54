// Streaming output port on JACK: sends data block units the way an upload
// does (30 ms pause after each) on a private server at periods 64, 128 and
// 256 (48 kHz), and prints the spacing of the pieces within each unit in
// frame time (min/median/p99/max, ms), wall time per send against the ideal
// 100 ms, CPU time per unit (whole process, and the sending thread alone),
// allocations per send, and the late cycles (xruns) the server reported.
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

    std::vector<std::vector<unsigned char>> data;
    for (int u = 0; u < units; ++u)
        data.push_back(blockUnit(static_cast<unsigned>(u)));
    std::vector<double> wallMs;
    wallMs.reserve(static_cast<size_t>(units));
    recorder->clear();

    const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double sender = 0;
    long allocs = 0;
    for (int u = 0; u < units; ++u) {
        const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        startCountingAllocations();
        out.sendStream(data[static_cast<size_t>(u)].data(), 524);
        allocs += stopCountingAllocations();
        const auto end = std::chrono::steady_clock::now();
        sender += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        wallMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
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
    std::printf("  spacing ms   min %.3f  median %.3f  p99 %.3f  max %.3f\n",
                percentile(spacing, 0.0), percentile(spacing, 0.5), percentile(spacing, 0.99),
                percentile(spacing, 1.0));
    std::printf("  wall ms/unit min %.2f  median %.2f  p99 %.2f  max %.2f  (ideal 100)\n",
                percentile(wallMs, 0.0), percentile(wallMs, 0.5), percentile(wallMs, 0.99),
                percentile(wallMs, 1.0));
    std::printf("  cpu ms/unit  process %.3f  sending thread %.3f\n", process * 1000.0 / units,
                sender * 1000.0 / units);
    std::printf("  allocations per send %.3f\n", static_cast<double>(allocs) / units);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    bool ok = true;
    for (unsigned period : {64u, 128u, 256u})
        ok = runPeriod(period, units) && ok;
    return ok ? 0 : 1;
}
