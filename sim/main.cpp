// tarnwick-sim: a simulated Varnox or Solune on JACK MIDI, for tests, demos and
// anyone without the hardware. The process callback reassembles and checks the
// incoming SysEx and writes the replies; everything else (summary, image file,
// signals) happens on the main thread, fed through a lock-free ring buffer.
#include "sim_device.h"
#include "sim_options.h"
#include "sim_stats.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoServer = 3;
constexpr int kExitServerGone = 4;
constexpr int kExitIo = 5;

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
};

int process(jack_nframes_t nframes, void *arg)
{
    auto *ctx = static_cast<Context *>(arg);
    void *inBuffer = jack_port_get_buffer(ctx->in, nframes);
    void *outBuffer = jack_port_get_buffer(ctx->out, nframes);
    jack_midi_clear_buffer(outBuffer);
    const jack_nframes_t cycleStart = jack_last_frame_time(ctx->client);

    const jack_nframes_t events = jack_midi_get_event_count(inBuffer);
    for (jack_nframes_t i = 0; i < events; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, inBuffer, i) == 0)
            ctx->device.receive(cycleStart + event.time, event.buffer, event.size, *ctx);
    }
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

// Written to a temporary name first so a reader never sees half a file.
bool writeFile(const std::string &path, const char *data, std::size_t size)
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file.write(data, std::streamsize(size)) || !file.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool writeOutputs(const SimOptions &options, const SimStats &stats)
{
    bool ok = true;
    if (!options.summaryPath.empty()) {
        const std::string json = stats.toJson();
        if (!writeFile(options.summaryPath, json.data(), json.size())) {
            std::fprintf(stderr, "tarnwick-sim: cannot write summary %s: %s\n",
                         options.summaryPath.c_str(), std::strerror(errno));
            ok = false;
        }
    }
    if (!options.imagePath.empty()) {
        const auto &image = stats.image();
        if (!writeFile(options.imagePath, reinterpret_cast<const char *>(image.data()),
                       image.size())) {
            std::fprintf(stderr, "tarnwick-sim: cannot write image %s: %s\n",
                         options.imagePath.c_str(), std::strerror(errno));
            ok = false;
        }
    }
    return ok;
}

int deviceIdOf(const std::string &model)
{
    return model == "Varnox" ? 0x03 : 0x02;
}

} // namespace

int main(int argc, char **argv)
{
    SimOptions options;
    std::string error;
    if (!parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tarnwick-sim: %s\n%s", error.c_str(), simUsage());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(simUsage(), stdout);
        return kExitOk;
    }

    // Signals are taken by sigtimedwait on this thread only; JACK's threads,
    // created below, inherit the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    SimConfig config;
    config.deviceId = static_cast<unsigned char>(deviceIdOf(options.model));
    config.replyId =
        static_cast<unsigned char>(options.replyId >= 0 ? options.replyId : config.deviceId);
    std::memcpy(config.version, options.version, 3);
    config.noVersion = options.noVersion;
    config.noAck = options.noAck;
    config.malformedFirst = options.malformedFirst;
    config.exitAfterBlock = options.exitAfterBlock;

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

    SimStats::Identity identity;
    identity.clientName = jack_get_client_name(client);
    identity.model = options.model;
    identity.deviceId = config.deviceId;
    identity.replyId = config.replyId;
    identity.version = std::to_string(config.version[0]) + "." + std::to_string(config.version[1]) +
                       "." + std::to_string(config.version[2]);
    identity.sampleRate = sampleRate;
    SimStats stats(identity);

    std::printf("READY %s\n", identity.clientName.c_str());
    std::fflush(stdout);

    int exitCode = kExitOk;
    const timespec tick{0, 5 * 1000 * 1000};
    for (;;) {
        drain(*ctx, stats);
        if (stats.unplugged()) {
            stats.setExitReason("block limit");
            // Let replies already queued (the first block's acknowledgement)
            // leave before the ports go away.
            for (int i = 0; i < 20 && ctx->device.pendingReplies() > 0; ++i)
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
