// Drives the Windows stream backend end to end: opens output device 0 (or
// the number given), sends the version request and one data block unit,
// closes. Built by scripts/check-windows-build so that the backend is
// compiled and linked against winmm; run it on Windows with a device.
#include "winmm_stream_backend.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    const unsigned port = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 0;
    WinMMOutputDevices devices;
    WinMMStreamBackend backend;
    std::vector<unsigned char> block(524, 0x00);
    block[0] = 0xF0;
    for (size_t i = 1; i < 520; ++i)
        block[i] = static_cast<unsigned char>(i & 0x7F);
    block[520] = 0xF7;
    const unsigned char request[4] = {0xF0, 0x03, 0x15, 0xF7};
    try {
        backend.open(port, "RtMidi Output", devices);
        const DWORD start = GetTickCount();
        backend.send(request, sizeof request);
        backend.send(block.data(), block.size());
        std::printf("sent to %s in %lu ms\n", devices.name(port).c_str(),
                    static_cast<unsigned long>(GetTickCount() - start));
        backend.close();
    } catch (const RtMidiError &error) {
        std::printf("%s\n", error.what());
        return 1;
    }
    return 0;
}
