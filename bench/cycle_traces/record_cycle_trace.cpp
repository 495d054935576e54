// Records what the stream port's cycle watch is fed, cycle by cycle, while one
// data block (11 pieces, 10 ms apart) is played to the simulated instrument on
// a real JACK server, with one party made late right after a chosen piece; and
// what the instrument (and jack_midi_dump -a beside it) then had. The trace is
// a text file that tests/unit/tst_cycle_watch replays (its format is at the
// end of docs/missed-cycles.md).
//
// Usage (as root for jack-realtime):
//   TARNWICK_TEST_MIDI=KIND build/bench/record_cycle_trace SCENARIO PIECE OUT.trace
// KIND is jack (synchronous), jack-async or jack-realtime.
// SCENARIO is who is late, for 20 ms, right after piece PIECE (1-11):
//   driver      the server's driver: jackd is stopped (SIGSTOP) for 20 ms
//   ours        the process callback that plays the pieces
//   instrument  the instrument (tarnwick-sim --late-cycle)
//   instrument-before  the instrument, instead in the cycle before the one
//               that brings piece PIECE (2-11), which it then misses
//   input       an RtMidi input client, in its MIDI callback (as the tool's)
//   none        nobody
#include "device_id.h"
#include "jack_cycle_reading.h"
#include "jack_midi_dump.h"
#include "messages.h"
#include "midi_system.h"
#include "stream_framing.h"
#include "stream_schedule.h"

#include <RtMidi.h>
#include <jack/midiport.h>

#include <QFile>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace stream_framing;

constexpr unsigned kLateMs = 20;
constexpr unsigned kCyclesBefore = 40;
// Long enough for a notice that comes as late as the watch lets it.
constexpr unsigned kCyclesAfter = 300;
constexpr unsigned kMaxCycles = 1024;

void sleepMs(unsigned ms)
{
    const timespec t{0, long(ms) * 1000000L};
    nanosleep(&t, nullptr);
}

struct Recorded
{
    JackCycleWatch::Cycle cycle;
    uint16_t played; // bit k-1: piece k written in this cycle
};

struct Player
{
    jack_client_t *client = nullptr;
    jack_port_t *out = nullptr;
    jack_port_t *prod = nullptr; // to the late RtMidi input client
    std::atomic<uint32_t> notices{0};
    std::atomic<bool> go{false};
    std::atomic<unsigned> cycles{0};
    std::atomic<unsigned> written{0};
    bool ownLate = false;
    bool prodLate = false;
    unsigned lateAfter = 0;
    unsigned count = 0;
    uint32_t deltaFrames[kMaxPieces] = {};
    Piece pieces[kMaxPieces] = {};
    const unsigned char *unit = nullptr;
    StreamSchedule schedule;
    Recorded recorded[kMaxCycles] = {};
};

int onXrun(void *arg)
{
    static_cast<Player *>(arg)->notices.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int onProcess(jack_nframes_t nframes, void *arg)
{
    auto &p = *static_cast<Player *>(arg);
    void *out = jack_port_get_buffer(p.out, nframes);
    void *prod = jack_port_get_buffer(p.prod, nframes);
    jack_midi_clear_buffer(out);
    jack_midi_clear_buffer(prod);
    const unsigned n = p.cycles.load(std::memory_order_relaxed);
    if (n >= kMaxCycles)
        return 0;
    Recorded &r = p.recorded[n];
    r.cycle = readCycle(p.client, nframes, p.notices.load(std::memory_order_relaxed));
    r.played = 0;
    bool late = false;
    unsigned next = p.written.load(std::memory_order_relaxed);
    if (next > 0 && next < p.count) {
        r.cycle.pieceDue = true;
        r.cycle.dueFrame = p.schedule.last() + p.deltaFrames[next];
    }
    if (p.go.load(std::memory_order_acquire)) {
        const uint32_t start = r.cycle.startFrame;
        while (next < p.count) {
            const uint32_t due = p.schedule.due(start, p.deltaFrames[next]);
            if (due - start >= nframes)
                break;
            const Piece &piece = p.pieces[next];
            jack_midi_event_write(out, due - start, p.unit + piece.offset, piece.length);
            p.schedule.played(due);
            r.played = uint16_t(r.played | (1u << next));
            ++next;
            if (next == p.lateAfter) {
                late = p.ownLate;
                if (p.prodLate) {
                    const unsigned char note[3] = {0x90, 60, 100};
                    jack_midi_event_write(prod, due - start, note, 3);
                }
            }
        }
        p.written.store(next, std::memory_order_release);
    }
    p.cycles.store(n + 1, std::memory_order_release);
    if (late)
        sleepMs(kLateMs); // deliberately: a client that overran its cycle
    return 0;
}

// The jackd serving JACK_DEFAULT_SERVER (the fixture's), found by its -n.
pid_t jackdPid()
{
    const char *name = std::getenv("JACK_DEFAULT_SERVER");
    DIR *proc = opendir("/proc");
    pid_t found = -1;
    for (dirent *e; proc && (e = readdir(proc)) && found < 0;) {
        const pid_t pid = std::atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::ifstream in("/proc/" + std::string(e->d_name) + "/cmdline");
        std::vector<std::string> args;
        for (std::string a; std::getline(in, a, '\0');)
            args.push_back(a);
        for (size_t i = 0; name && i + 1 < args.size(); ++i)
            if (args[0].find("jackd") != std::string::npos && args[i] == "-n" &&
                args[i + 1] == name)
                found = pid;
    }
    if (proc)
        closedir(proc);
    return found;
}

std::string joined(const std::vector<long long> &v)
{
    std::string s;
    for (long long x : v)
        s += (s.empty() ? "" : " ") + std::to_string(x);
    return s.empty() ? "-" : s;
}

int usage()
{
    std::fprintf(stderr, "usage: record_cycle_trace "
                         "driver|ours|instrument|instrument-before|input|none PIECE OUT.trace\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return usage();
    const std::string scenario = argv[1];
    const unsigned lateAfter = unsigned(std::atoi(argv[2]));
    const std::string outPath = argv[3];
    if (lateAfter < 1 || lateAfter > kMaxPieces ||
        (scenario != "driver" && scenario != "ours" && scenario != "instrument" &&
         scenario != "instrument-before" && scenario != "input" && scenario != "none") ||
        (scenario == "instrument-before" && lateAfter < 2))
        return usage();

    auto system = MidiSystem::create();
    if (!system->startServer()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    QStringList simOptions;
    // Pieces are 480 frames apart at 48 kHz: the cycle before a piece's holds
    // the frame one period before it.
    if (scenario == "instrument")
        simOptions << "--late-cycle" << QString::number(lateAfter);
    if (scenario == "instrument-before")
        simOptions << "--late-cycle" << QString::number(lateAfter - 1) << "--late-frames"
                   << QString::number(480 - system->periodFrames());
    if (!system->startInstrument(simOptions)) {
        std::fprintf(stderr, "the instrument did not start\n");
        return 1;
    }
    const std::string dumpLog = "/tmp/record-cycle-trace-dump-" + std::to_string(getpid());
    ChildProcess dump;
    if (!dump.start({"jack_midi_dump", "-a"}, dumpLog) ||
        !system->waitForInput("midi-monitor:input")) {
        std::fprintf(stderr, "jack_midi_dump did not start\n");
        return 1;
    }

    DataBlockBuffer block{};
    unsigned char data[kBlockDataSize];
    for (size_t i = 0; i < kBlockDataSize; ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    buildDataBlockMessage(block, deviceIdForModel("Varnox"), 1, 1, data, kBlockDataSize);

    auto player = std::make_unique<Player>();
    Player &p = *player;
    p.unit = block.data();
    p.count = unsigned(frameUnit(block.size(), p.pieces));
    p.lateAfter = lateAfter;
    p.ownLate = scenario == "ours";
    p.prodLate = scenario == "input";
    p.client = jack_client_open("Tarnwick Updater", JackNoStartServer, nullptr);
    if (!p.client)
        return 1;
    const uint32_t rate = jack_get_sample_rate(p.client);
    for (unsigned k = 0; k < p.count; ++k)
        p.deltaFrames[k] =
            uint32_t(uint64_t(p.pieces[k].deltaTicks) * kTickMicros * rate / 1000000u);
    p.out = jack_port_register(p.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    p.prod = jack_port_register(p.client, "prod", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_xrun_callback(p.client, onXrun, &p);
    jack_set_process_callback(p.client, onProcess, &p);
    if (!p.out || !p.prod || jack_activate(p.client) != 0)
        return 1;
    const std::string instrumentIn = system->instrument().inPort().toStdString();
    bool connected = jack_connect(p.client, jack_port_name(p.out), instrumentIn.c_str()) == 0 &&
                     jack_connect(p.client, jack_port_name(p.out), "midi-monitor:input") == 0;

    // The late input client: RtMidi calls the callback from its JACK process thread.
    std::unique_ptr<RtMidiIn> input;
    if (p.prodLate) {
        input = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "Tarnwick Updater input");
        input->setCallback([](double, std::vector<unsigned char> *, void *) { sleepMs(kLateMs); });
        input->openVirtualPort("in");
        const char **ports = jack_get_ports(p.client, "^Tarnwick Updater input.*:in$",
                                            JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        connected = connected && ports && ports[0] &&
                    jack_connect(p.client, jack_port_name(p.prod), ports[0]) == 0;
        jack_free(ports);
    }
    if (!connected) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }

    while (p.cycles.load() < kCyclesBefore)
        sleepMs(1);
    const unsigned firstCycle = p.cycles.load();
    p.go.store(true, std::memory_order_release);
    if (scenario == "driver") {
        const pid_t server = jackdPid();
        while (p.written.load() < lateAfter)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (server <= 0 || kill(server, SIGSTOP) != 0) {
            std::fprintf(stderr, "no jackd to stop\n");
            return 1;
        }
        sleepMs(kLateMs);
        kill(server, SIGCONT);
    }
    while (p.written.load() < p.count)
        sleepMs(1);
    const unsigned lastCycle = p.cycles.load();
    while (p.cycles.load() < lastCycle + kCyclesAfter)
        sleepMs(5);
    const unsigned recorded = std::min(p.cycles.load(), kMaxCycles);
    jack_deactivate(p.client);
    input.reset();

    // What arrived: our port's pieces at jack_midi_dump, and the instrument's own record.
    dump.stop(SIGINT);
    std::vector<long long> dumpGaps;
    unsigned dumpPieces = 0;
    long long previous = -1;
    for (const DumpedEvent &d : readJackMidiDump(dumpLog)) {
        ++dumpPieces;
        if (previous >= 0)
            dumpGaps.push_back(d.frame - previous);
        previous = d.frame;
    }
    std::remove(dumpLog.c_str());
    system->instrument().stop();
    const QJsonObject s = system->instrument().summary();
    const QJsonObject spacing = s["piece_spacing_frames"].toObject();
    const int pieces = s["pieces"].toInt(), blocks = s["blocks_received"].toInt(),
              errors = s["framing_errors"].toInt();
    const uint32_t gap = p.deltaFrames[1];
    const bool whole = pieces == int(p.count) && blocks == 1 && errors == 0 &&
                       spacing["min"].toInt() == int(gap) && spacing["max"].toInt() == int(gap);

    std::FILE *out = std::fopen(outPath.c_str(), "w");
    if (!out)
        return 1;
    std::fprintf(out, "# late: %s for %u ms, piece %u; server %s, period %u, %u Hz\n",
                 scenario.c_str(), kLateMs, lateAfter, MidiSystem::name(system->kind()),
                 system->periodFrames(), rate);
    std::fprintf(out, "# jack_midi_dump -a: %u pieces, gaps %s\n", dumpPieces,
                 joined(dumpGaps).c_str());
    std::fprintf(out,
                 "# instrument: %d pieces, spacing min %d median %d max %d, %d block(s), "
                 "%d framing error(s)\n",
                 pieces, spacing["min"].toInt(), spacing["median"].toInt(), spacing["max"].toInt(),
                 blocks, errors);
    std::fprintf(out, "answer %s\n", whole ? "whole" : "not-whole");
    std::fprintf(out, "pieces %u\n", p.count);
    std::fprintf(out,
                 "# start_frame frames start_usecs period_usecs delay_usecs notices due played "
                 "driver_xrun\n");
    for (unsigned i = firstCycle > 20 ? firstCycle - 20 : 0; i < recorded; ++i) {
        const Recorded &r = p.recorded[i];
        std::string played;
        for (unsigned k = 0; k < p.count; ++k)
            if (r.played & (1u << k))
                played += (played.empty() ? "" : ",") + std::to_string(k + 1);
        const std::string due = r.cycle.pieceDue ? std::to_string(r.cycle.dueFrame) : "-";
        std::fprintf(out, "c %u %u %llu %.9g %.9g %u %s %s %d\n", r.cycle.startFrame,
                     r.cycle.frames, static_cast<unsigned long long>(r.cycle.startUsecs),
                     r.cycle.periodUsecs, r.cycle.delayUsecs, r.cycle.notices, due.c_str(),
                     played.empty() ? "-" : played.c_str(), r.cycle.driverXrun ? 1 : 0);
    }
    std::fclose(out);
    jack_client_close(p.client);
    std::printf("%s: %s (instrument %d pieces, spacing %d..%d, %d block(s))\n", outPath.c_str(),
                whole ? "whole" : "not-whole", pieces, spacing["min"].toInt(),
                spacing["max"].toInt(), blocks);
    return 0;
}
