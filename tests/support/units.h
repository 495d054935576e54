#pragma once

#include <vector>

// The units the stream tests send: a data block message (F0, 519 7-bit bytes
// that differ with seed, F7, 0, 0, 0) and the version request.
using Unit = std::vector<unsigned char>;

inline Unit blockUnit(unsigned seed)
{
    Unit u(524, 0);
    u[0] = 0xF0;
    for (size_t i = 1; i < 520; ++i)
        u[i] = static_cast<unsigned char>((i * 7 + seed * 13) & 0x7F);
    u[520] = 0xF7;
    return u;
}

const Unit kRequest = {0xF0, 0x03, 0x15, 0xF7};
