// The simulated instrument on the ALSA sequencer, named as a USB instrument's
// driver names it: client "<model> <number>" with one port "<model> <number>
// MIDI 1" that others write to and read from. Events arriving on the port are
// stamped by the kernel with the real time of a queue of our own at delivery,
// so piece times are what the sequencer actually delivered, in microseconds.
// Everything runs on the main thread: the sequencer keeps the events until we
// read them, and their stamps do not depend on when that is.
#include "instrument_host.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cstdio>

namespace sim_host {

namespace {

constexpr std::uint32_t kMicrosPerSecond = 1000000;
constexpr int kPollMs = 5;
constexpr int kReplyPollMs = 1;
constexpr std::size_t kDecodeBytes = 512;

struct StatsSink final : SimSink
{
    explicit StatsSink(SimStats &target) : stats(target) {}
    void report(const SimReport &r) override { stats.add(r); }
    SimStats &stats;
};

std::uint32_t microsOf(const snd_seq_real_time_t &t)
{
    return static_cast<std::uint32_t>(std::uint64_t(t.tv_sec) * kMicrosPerSecond +
                                      t.tv_nsec / 1000);
}

class AlsaInstrument
{
public:
    ~AlsaInstrument() { close(); }

    // The sequencer announces that the client left, as when a USB instrument
    // is unplugged.
    void close()
    {
        if (decoder_)
            snd_midi_event_free(decoder_);
        if (status_)
            snd_seq_queue_status_free(status_);
        if (seq_)
            snd_seq_close(seq_);
        decoder_ = nullptr;
        status_ = nullptr;
        seq_ = nullptr;
    }

    bool open(const std::string &clientName)
    {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
            seq_ = nullptr;
            std::fprintf(stderr, "tarnwick-sim: no ALSA sequencer (/dev/snd/seq)\n");
            return false;
        }
        snd_seq_set_client_name(seq_, clientName.c_str());
        queue_ = snd_seq_alloc_queue(seq_);
        snd_seq_port_info_t *info;
        snd_seq_port_info_alloca(&info);
        const std::string portName = clientName + " MIDI 1";
        snd_seq_port_info_set_name(info, portName.c_str());
        snd_seq_port_info_set_capability(info, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                                   SND_SEQ_PORT_CAP_WRITE |
                                                   SND_SEQ_PORT_CAP_SUBS_WRITE);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC |
                                             SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT);
        snd_seq_port_info_set_timestamping(info, 1);
        snd_seq_port_info_set_timestamp_real(info, 1);
        snd_seq_port_info_set_timestamp_queue(info, queue_);
        const bool ok = queue_ >= 0 && snd_seq_create_port(seq_, info) >= 0 &&
                        snd_seq_start_queue(seq_, queue_, nullptr) >= 0 &&
                        snd_seq_drain_output(seq_) >= 0 &&
                        snd_seq_queue_status_malloc(&status_) >= 0 &&
                        snd_midi_event_new(kDecodeBytes, &decoder_) >= 0;
        if (!ok) {
            std::fprintf(stderr, "tarnwick-sim: cannot set up the sequencer port\n");
            return false;
        }
        port_ = snd_seq_port_info_get_port(info);
        snd_midi_event_no_status(decoder_, 1);
        return true;
    }

    // Hands every event waiting on the port to the device; false when the
    // sequencer failed.
    bool receive(SimDevice &device, SimSink &sink)
    {
        for (;;) {
            snd_seq_event_t *event = nullptr;
            const int r = snd_seq_event_input(seq_, &event);
            if (r == -EAGAIN)
                return true;
            if (r == -ENOSPC) // input overrun: the device sees the gap as it is
                continue;
            if (r < 0 || !event)
                return r >= 0;
            const std::uint32_t at = microsOf(event->time.time);
            device.setClock(at);
            if (event->type == SND_SEQ_EVENT_SYSEX) {
                device.receive(at, static_cast<const unsigned char *>(event->data.ext.ptr),
                               event->data.ext.len, sink);
            } else {
                unsigned char bytes[kDecodeBytes];
                const long n = snd_midi_event_decode(decoder_, bytes, sizeof bytes, event);
                if (n > 0)
                    device.receive(at, bytes, std::size_t(n), sink);
            }
        }
    }

    void sendDue(SimDevice &device, SimSink &sink)
    {
        if (snd_seq_get_queue_status(seq_, queue_, status_) < 0)
            return;
        const std::uint32_t now = microsOf(*snd_seq_queue_status_get_real_time(status_));
        device.setClock(now);
        device.emitDue(
            now, 1,
            [this](std::uint32_t, const unsigned char *bytes, std::size_t size) {
                snd_seq_event_t event;
                snd_seq_ev_clear(&event);
                snd_seq_ev_set_source(&event, port_);
                snd_seq_ev_set_subs(&event);
                snd_seq_ev_set_direct(&event);
                snd_seq_ev_set_sysex(&event, static_cast<unsigned>(size),
                                     const_cast<unsigned char *>(bytes));
                return snd_seq_event_output_direct(seq_, &event) >= 0;
            },
            sink);
    }

    void wait(int timeoutMs)
    {
        pollfd fds[4];
        const int n = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
        poll(fds, static_cast<nfds_t>(n), timeoutMs);
    }

private:
    snd_seq_t *seq_ = nullptr;
    snd_seq_queue_status_t *status_ = nullptr;
    snd_midi_event_t *decoder_ = nullptr;
    int queue_ = -1;
    int port_ = -1;
};

} // namespace

int runOnAlsa(const SimOptions &options, const sigset_t &signals)
{
    SimConfig config = configOf(options);
    config.delayFrames = std::uint32_t(options.delayMs) * (kMicrosPerSecond / 1000);

    AlsaInstrument seq;
    const std::string clientName = options.clientName();
    if (!seq.open(clientName))
        return kExitNoServer;

    SimStats stats(identityOf(options, config, clientName, kMicrosPerSecond));
    StatsSink sink(stats);
    auto *device = new SimDevice(config); // large (fixed buffers): keep it off the stack
    announceReady(clientName);

    int exitCode = kExitOk;
    bool told = false;
    const timespec now{0, 0};
    for (;;) {
        if (!seq.receive(*device, sink)) {
            std::fprintf(stderr, "tarnwick-sim: the sequencer failed\n");
            stats.setExitReason("server gone");
            exitCode = kExitServerGone;
            break;
        }
        tellIfSeen(options, stats, told);
        seq.sendDue(*device, sink);
        if (stats.unplugged() && device->pendingReplies() == 0) {
            stats.setExitReason("block limit");
            break;
        }
        const int sig = sigtimedwait(&signals, nullptr, &now);
        if (sig == SIGUSR1) {
            if (!writeOutputs(options, stats))
                exitCode = kExitIo;
        } else if (sig == SIGINT || sig == SIGTERM) {
            stats.setExitReason(sig == SIGINT ? "SIGINT" : "SIGTERM");
            break;
        }
        seq.wait(device->pendingReplies() > 0 ? kReplyPollMs : kPollMs);
    }

    seq.close();
    delete device;
    if (!writeOutputs(options, stats))
        exitCode = kExitIo;
    return exitCode;
}

} // namespace sim_host
