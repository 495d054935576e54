// Drives the Windows stream backend end to end, as the updater uses it: opens
// the first output device whose name contains NAME, plays a plan of units and
// pauses, closes. Each step prints one line as soon as it is done, because
// the lines are what a run is judged by (under Wine a winmm program may crash
// on its way out, after everything it did).
//
//   winmm_stream_driver NAME [STEP...]
//
// Steps: "v" the version request F0 03 15 F7; "bN" data block N (524 bytes:
// F0, bytes (N + i) & 7F for i = 1..519, F7, three zeros); "pMS" a pause of
// MS milliseconds. Without steps: the upload's own rhythm, the version
// request and a block at once, then a block after 250 ms, one after 30 ms,
// and one after a 1 s idle.
//
// More steps make the platform misbehave from then on, the way a device
// that goes away mid-update, or a player that wakes late, shows through the
// stream service, so that the backend's failure paths run against the real
// service:
//   "sN"  the stream stops playing once it has taken the N-th buffer from now
//         (it is paused behind the backend's back): buffers are no longer
//         handed back;
//   "h"   the platform keeps every buffer (unprepare says still playing);
//   "g"   the device is gone (handing a buffer over says no driver);
//   "dN"  the N-th buffer from now reaches the platform 50 ms late: its time
//         has passed, so it plays at once, as after a late wake-up.
// They swap the program's own import entries, so the backend is unchanged.
#include "winmm_stream_backend.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The import entries through which the backend calls winmm.
extern "C" {
extern decltype(&midiStreamOut) __imp_midiStreamOut;
extern decltype(&midiOutUnprepareHeader) __imp_midiOutUnprepareHeader;
}

namespace {

decltype(&midiStreamOut) platformStreamOut = nullptr;
unsigned buffersBeforeStall = 0;

MMRESULT WINAPI stallingStreamOut(HMIDISTRM stream, LPMIDIHDR header, UINT size)
{
    const MMRESULT result = platformStreamOut(stream, header, size);
    if (buffersBeforeStall > 0 && --buffersBeforeStall == 0)
        midiStreamPause(stream);
    return result;
}

unsigned buffersBeforeDelay = 0;

MMRESULT WINAPI delayingStreamOut(HMIDISTRM stream, LPMIDIHDR header, UINT size)
{
    if (buffersBeforeDelay > 0 && --buffersBeforeDelay == 0)
        Sleep(50);
    return platformStreamOut(stream, header, size);
}

MMRESULT WINAPI goneStreamOut(HMIDISTRM, LPMIDIHDR, UINT)
{
    return MMSYSERR_NODRIVER;
}

MMRESULT WINAPI keepingUnprepare(HMIDIOUT, LPMIDIHDR, UINT)
{
    return MIDIERR_STILLPLAYING;
}

template <typename Function> void replaceImport(Function &entry, Function replacement)
{
    DWORD was;
    VirtualProtect(&entry, sizeof entry, PAGE_READWRITE, &was);
    entry = replacement;
    VirtualProtect(&entry, sizeof entry, was, &was);
}

std::vector<unsigned char> unitFor(const std::string &step)
{
    if (step == "v")
        return {0xF0, 0x03, 0x15, 0xF7};
    const unsigned n = static_cast<unsigned>(std::strtoul(step.c_str() + 1, nullptr, 10));
    std::vector<unsigned char> block(524, 0x00);
    block[0] = 0xF0;
    for (unsigned i = 1; i < 520; ++i)
        block[i] = static_cast<unsigned char>((n + i) & 0x7F);
    block[520] = 0xF7;
    return block;
}

void say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        say("usage: winmm_stream_driver NAME [v|bN|pMS|sN|h|g|dN]...");
        return 2;
    }
    std::vector<std::string> steps(argv + 2, argv + argc);
    if (steps.empty())
        steps = {"v", "b1", "p250", "b2", "p30", "b3", "p1000", "b4"};

    WinMMOutputDevices devices;
    unsigned port = devices.count();
    for (unsigned i = 0; i < devices.count() && port == devices.count(); ++i) {
        if (devices.name(i).find(argv[1]) != std::string::npos)
            port = i;
    }
    if (port == devices.count()) {
        say(std::string("no output device named like ") + argv[1]);
        return 1;
    }

    WinMMStreamBackend backend;
    try {
        backend.open(port, "RtMidi Output", devices);
    } catch (const RtMidiError &error) {
        say(std::string("open: ") + error.what());
        return 1;
    }
    say("opened " + devices.name(port));

    int failures = 0;
    for (const std::string &step : steps) {
        const unsigned number = static_cast<unsigned>(std::strtoul(step.c_str() + 1, nullptr, 10));
        if (step[0] == 'p') {
            Sleep(number);
            continue;
        }
        if (step[0] == 's' || step[0] == 'd') {
            if (!platformStreamOut)
                platformStreamOut = __imp_midiStreamOut;
            if (step[0] == 's') {
                buffersBeforeStall = number;
                replaceImport(__imp_midiStreamOut, &stallingStreamOut);
            } else {
                buffersBeforeDelay = number;
                replaceImport(__imp_midiStreamOut, &delayingStreamOut);
            }
            continue;
        }
        if (step == "h" || step == "g") {
            if (step == "h")
                replaceImport(__imp_midiOutUnprepareHeader, &keepingUnprepare);
            else
                replaceImport(__imp_midiStreamOut, &goneStreamOut);
            continue;
        }
        const std::vector<unsigned char> unit = unitFor(step);
        const DWORD start = GetTickCount();
        try {
            backend.send(unit.data(), unit.size());
            say(step + ": played in " + std::to_string(GetTickCount() - start) + " ms");
        } catch (const RtMidiError &error) {
            ++failures;
            say(step + ": failed after " + std::to_string(GetTickCount() - start) +
                " ms: " + error.what());
        }
    }
    backend.close();
    say("closed");
    return failures == 0 ? 0 : 1;
}
