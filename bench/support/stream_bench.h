#pragma once

#include <algorithm>
#include <ctime>
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
