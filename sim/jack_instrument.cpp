// The simulated instrument on JACK MIDI: client "<model> <number>" with ports
// in and out. The process callback reassembles and checks the incoming SysEx
// and writes the replies; everything else (summary, image file, signals)
// happens on the main thread, fed through a lock-free ring buffer.
#include "instrument_host.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdio>
#include <ctime>

namespace sim_host {

namespace {

constexpr std::size_t kRingBytes = 1 << 20; // about 3600 reports

struct Context final : SimSink
{
    explicit Context(const SimConfig &config) : device(config) {}

    void report(const SimReport &r) override
    {
        if (jack_ringbuffer_write_space(ring) < sizeof r) {
            lost.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        jack_ringbuffer_write(ring, reinterpret_cast<const char *>(&r), sizeof r);
    }

    jack_client_t *client = nullptr;
    jack_port_t *in = nullptr;
    jack_port_t *out = nullptr;
    jack_ringbuffer_t *ring = nullptr;
    SimDevice device;
    std::atomic<std::uint64_t> lost{0};
    std::atomic<bool> serverGone{false};
    // --late-cycle: the incoming event whose cycle overruns, and the count so
    // far; --late-frames: the overrun comes in the cycle that holds the frame
    // that many frames after that event.
    unsigned lateAtEvent = 0;
    unsigned lateFrames = 0;
    unsigned events = 0;
    bool lateArmed = false;
    jack_nframes_t lateFrame = 0;
};

// Counts an incoming event; the late one arms the overrun.
void countForOverrun(Context &ctx, jack_nframes_t frame)
{
    if (++ctx.events == ctx.lateAtEvent) {
        ctx.lateArmed = true;
        ctx.lateFrame = frame + ctx.lateFrames;
    }
}

// Deliberately not real-time safe: a client that overran its cycle, the one
// that holds lateFrame (or at once, had that passed).
void overrunIfAsked(Context &ctx, jack_nframes_t cycleStart, jack_nframes_t nframes)
{
    if (ctx.lateArmed && static_cast<int32_t>(ctx.lateFrame - (cycleStart + nframes)) < 0) {
        ctx.lateArmed = false;
        const timespec late{0, 20 * 1000 * 1000};
        nanosleep(&late, nullptr);
    }
}

int process(jack_nframes_t nframes, void *arg)
{
    auto *ctx = static_cast<Context *>(arg);
    void *inBuffer = jack_port_get_buffer(ctx->in, nframes);
    void *outBuffer = jack_port_get_buffer(ctx->out, nframes);
    jack_midi_clear_buffer(outBuffer);
    const jack_nframes_t cycleStart = jack_last_frame_time(ctx->client);
    ctx->device.setClock(static_cast<std::uint32_t>(jack_get_time()));

    const jack_nframes_t events = jack_midi_get_event_count(inBuffer);
    for (jack_nframes_t i = 0; i < events; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, inBuffer, i) == 0) {
            ctx->device.receive(cycleStart + event.time, event.buffer, event.size, *ctx);
            countForOverrun(*ctx, cycleStart + event.time);
        }
    }
    overrunIfAsked(*ctx, cycleStart, nframes);
    // Each reply is one whole event.
    ctx->device.emitDue(
        cycleStart, nframes,
        [outBuffer](std::uint32_t offset, const unsigned char *bytes, std::size_t size) {
            return jack_midi_event_write(outBuffer, offset, bytes, size) == 0;
        },
        *ctx);
    return 0;
}

void onShutdown(void *arg)
{
    static_cast<Context *>(arg)->serverGone.store(true, std::memory_order_release);
}

void drain(Context &ctx, SimStats &stats)
{
    SimReport r;
    while (jack_ringbuffer_read_space(ctx.ring) >= sizeof r) {
        jack_ringbuffer_read(ctx.ring, reinterpret_cast<char *>(&r), sizeof r);
        stats.add(r);
    }
    stats.addLostReports(ctx.lost.load(std::memory_order_relaxed));
}

} // namespace

int runOnJack(const SimOptions &options, const sigset_t &signals)
{
    SimConfig config = configOf(options);
    const std::string wantedName = options.clientName();
    jack_status_t status{};
    jack_client_t *client = jack_client_open(wantedName.c_str(), JackNoStartServer, &status);
    if (client == nullptr) {
        std::fprintf(stderr,
                     "tarnwick-sim: cannot open JACK client \"%s\": no JACK server running "
                     "(status 0x%x)\n",
                     wantedName.c_str(), unsigned(status));
        return kExitNoServer;
    }
    const jack_nframes_t sampleRate = jack_get_sample_rate(client);
    config.delayFrames = std::uint32_t(std::uint64_t(options.delayMs) * sampleRate / 1000);

    auto *ctx = new Context(config); // large (fixed buffers): keep it off the stack
    ctx->client = client;
    ctx->lateAtEvent = options.lateCycle;
    ctx->lateFrames = options.lateFrames;
    ctx->ring = jack_ringbuffer_create(kRingBytes);
    ctx->in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    ctx->out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (ctx->ring == nullptr || ctx->in == nullptr || ctx->out == nullptr) {
        std::fprintf(stderr, "tarnwick-sim: cannot register the MIDI ports\n");
        jack_client_close(client);
        return kExitNoServer;
    }
    jack_ringbuffer_mlock(ctx->ring);
    jack_set_process_callback(client, process, ctx);
    jack_on_shutdown(client, onShutdown, ctx);
    if (jack_activate(client) != 0) {
        std::fprintf(stderr, "tarnwick-sim: cannot activate the JACK client\n");
        jack_client_close(client);
        return kExitNoServer;
    }

    SimStats stats(identityOf(options, config, jack_get_client_name(client), sampleRate));
    announceReady(jack_get_client_name(client));

    int exitCode = kExitOk;
    bool told = false;
    const timespec tick{0, 5 * 1000 * 1000};
    for (;;) {
        drain(*ctx, stats);
        tellIfSeen(options, stats, told);
        if (stats.unplugged()) {
            stats.setExitReason("block limit");
            // Leave 100 ms after the block, ignoring what comes meanwhile,
            // as an instrument unplugged in the pause between blocks: the
            // updater vouches for a block only some cycles after its last
            // piece (4: up to 85 ms at a 1024-frame quantum), and replies
            // already queued (the first block's acknowledgement) leave.
            for (int i = 0; i < 20; ++i)
                nanosleep(&tick, nullptr);
            break;
        }
        if (ctx->serverGone.load(std::memory_order_acquire)) {
            std::fprintf(stderr, "tarnwick-sim: the JACK server went away\n");
            stats.setExitReason("server gone");
            exitCode = kExitServerGone;
            break;
        }
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig == SIGUSR1) {
            drain(*ctx, stats);
            if (!writeOutputs(options, stats))
                exitCode = kExitIo;
        } else if (sig == SIGINT || sig == SIGTERM) {
            stats.setExitReason(sig == SIGINT ? "SIGINT" : "SIGTERM");
            break;
        }
    }

    if (exitCode != kExitServerGone)
        jack_deactivate(client);
    jack_client_close(client);
    drain(*ctx, stats);
    if (!writeOutputs(options, stats))
        exitCode = kExitIo;
    jack_ringbuffer_free(ctx->ring);
    delete ctx;
    return exitCode;
}

} // namespace sim_host
