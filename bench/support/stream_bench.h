#pragma once

#include "allocation_counter.h"
#include "stream_midi_out.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

// What the streaming port's benchmarks share: CPU clocks, percentiles and the
// data block units they send.

inline double cpuSeconds(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double percentile(std::vector<double> sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[i];
}

// A data block message for device 3: F0, 03, 518 bytes that differ with
// seed, F7, then three zero bytes.
inline std::vector<unsigned char> blockUnit(unsigned seed)
{
    std::vector<unsigned char> unit(524, 0);
    unit[0] = 0xF0;
    unit[1] = 0x03;
    for (size_t i = 2; i < 520; ++i)
        unit[i] = static_cast<unsigned char>((i + seed) & 0x7F);
    unit[520] = 0xF7;
    return unit;
}

// What sending a run of block units cost, the way an upload sends them.
struct SendFigures
{
    std::vector<double> wallMs; // per send
    double processMs = 0;       // the whole process, per unit
    double senderMs = 0;        // the sending thread alone, per unit
    double allocations = 0;     // per send
};

// Sends `units` block units through `out`, 30 ms apart as after a middle block.
inline SendFigures sendBlocks(StreamMidiOut &out, int units)
{
    std::vector<std::vector<unsigned char>> data;
    for (int u = 0; u < units; ++u)
        data.push_back(blockUnit(static_cast<unsigned>(u)));
    SendFigures f;
    f.wallMs.reserve(static_cast<size_t>(units));
    const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double sender = 0;
    long allocations = 0;
    for (const auto &unit : data) {
        const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto start = std::chrono::steady_clock::now();
        startCountingAllocations();
        out.sendStream(unit.data(), unit.size());
        allocations += stopCountingAllocations();
        const auto end = std::chrono::steady_clock::now();
        sender += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
        f.wallMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    f.processMs = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0) * 1000.0 / units;
    f.senderMs = sender * 1000.0 / units;
    f.allocations = static_cast<double>(allocations) / units;
    return f;
}

// Prints the spacing of the pieces within units (ms) and the send's figures.
inline void printFigures(const std::vector<double> &spacing, const SendFigures &f)
{
    const auto spread = [](const char *what, const std::vector<double> &v, const char *tail) {
        std::printf("  %s min %.3f  median %.3f  p99 %.3f  max %.3f%s\n", what, percentile(v, 0.0),
                    percentile(v, 0.5), percentile(v, 0.99), percentile(v, 1.0), tail);
    };
    spread("spacing ms  ", spacing, "");
    spread("wall ms/unit", f.wallMs, "  (ideal 100)");
    std::printf("  cpu ms/unit  process %.3f  sending thread %.3f\n", f.processMs, f.senderMs);
    std::printf("  allocations per send %.3f\n", f.allocations);
}
