// Streaming output port on the kernel's ALSA sequencer: sends data block
// units the way an upload does (30 ms pause after each) to a sink client of
// this program, which stamps every event with the real time the sequencer
// delivered it, and prints the spacing of the pieces within each unit
// (min/median/p99/max, ms), the wall time per send against the ideal 100 ms,
// CPU time per unit and allocations per send.
//
// Runs where a sequencer is, on our machines inside the guest:
//   scripts/guest-run -- build/bench/bench_stream_alsa [units, default 200]
#include "allocation_counter.h"
#include "stream_bench.h"
#include "stream_midi_out.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace {

// A client "Bench Sink" with a port that records the delivery time of every
// SysEx event it receives, in microseconds of its own queue.
class Sink
{
public:
    bool open(size_t expected)
    {
        times_.reserve(expected + 64); // the sink allocates nothing while sends are counted
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
            return false;
        snd_seq_set_client_name(seq_, "Bench Sink");
        const int queue = snd_seq_alloc_queue(seq_);
        snd_seq_port_info_t *info;
        snd_seq_port_info_alloca(&info);
        snd_seq_port_info_set_name(info, "in");
        snd_seq_port_info_set_capability(info,
                                         SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        snd_seq_port_info_set_timestamping(info, 1);
        snd_seq_port_info_set_timestamp_real(info, 1);
        snd_seq_port_info_set_timestamp_queue(info, queue);
        if (queue < 0 || snd_seq_create_port(seq_, info) < 0 ||
            snd_seq_start_queue(seq_, queue, nullptr) < 0 || snd_seq_drain_output(seq_) < 0)
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }

    ~Sink()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (seq_)
            snd_seq_close(seq_);
    }

    size_t count() const { return count_.load(); }
    // Delivery times in microseconds; read once the sends are over.
    const std::vector<long long> &times() const { return times_; }

private:
    void run()
    {
        pollfd fds[4];
        const int n = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
        while (!stop_) {
            poll(fds, static_cast<nfds_t>(n), 20);
            snd_seq_event_t *event = nullptr;
            while (snd_seq_event_input(seq_, &event) >= 0 && event) {
                if (event->type != SND_SEQ_EVENT_SYSEX)
                    continue;
                times_.push_back(static_cast<long long>(event->time.time.tv_sec) * 1000000 +
                                 event->time.time.tv_nsec / 1000);
                count_.store(times_.size());
            }
        }
    }

    snd_seq_t *seq_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> count_{0};
    std::vector<long long> times_;
};

} // namespace

int main(int argc, char **argv)
{
    const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    Sink sink;
    if (!sink.open(static_cast<size_t>(units) * 11)) {
        std::printf("no ALSA sequencer here: run through scripts/guest-run\n");
        return 1;
    }
    StreamMidiOut out(RtMidi::LINUX_ALSA, "RtMidi Output Client");
    unsigned index = 0;
    while (index < out.getPortCount() && out.getPortName(index).rfind("Bench Sink:", 0) != 0)
        ++index;
    out.openStreamPort(index, "RtMidi Output");

    const SendFigures figures = sendBlocks(out, units);
    out.closePort();
    for (int i = 0; i < 100 && sink.count() < static_cast<size_t>(units) * 11; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const auto &times = sink.times();
    std::vector<double> spacing;
    for (size_t i = 0; i + 1 < times.size(); ++i) {
        if ((i + 1) % 11 == 0)
            continue; // between units: the caller's pause, not the stream's
        spacing.push_back(static_cast<double>(times[i + 1] - times[i]) / 1000.0);
    }
    if (spacing.empty()) {
        std::printf("no events received\n");
        return 1;
    }
    std::printf("ALSA sequencer: %d units, %zu events (expected %d)\n", units, times.size(),
                units * 11);
    printFigures(spacing, figures);
    return times.size() == static_cast<size_t>(units) * 11 ? 0 : 1;
}
