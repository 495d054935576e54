#include "jack_midi_client.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {
constexpr std::size_t kRingBytes = 1 << 16;
constexpr std::size_t kMaxEvent = 1024;
} // namespace

JackMidiClient::~JackMidiClient()
{
    close();
}

bool JackMidiClient::open(const std::string &name, std::atomic<int> *xrunCounter)
{
    xrunCounter_ = xrunCounter;
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr)
        return false;
    name_ = jack_get_client_name(client_);
    ring_ = jack_ringbuffer_create(kRingBytes);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (ring_ == nullptr || in_ == nullptr || out_ == nullptr)
        return false;
    jack_set_process_callback(client_, process, this);
    if (xrunCounter_ != nullptr)
        jack_set_xrun_callback(client_, xrun, this);
    return jack_activate(client_) == 0;
}

void JackMidiClient::close()
{
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
        client_ = nullptr;
    }
    if (ring_ != nullptr) {
        jack_ringbuffer_free(ring_);
        ring_ = nullptr;
    }
}

std::uint32_t JackMidiClient::sampleRate() const
{
    return client_ ? jack_get_sample_rate(client_) : 0;
}

int JackMidiClient::process(jack_nframes_t nframes, void *arg)
{
    auto *self = static_cast<JackMidiClient *>(arg);
    const jack_nframes_t cycleStart = jack_last_frame_time(self->client_);

    // Received events: [frame][size][bytes] into the ring buffer.
    void *inBuffer = jack_port_get_buffer(self->in_, nframes);
    const jack_nframes_t count = jack_midi_get_event_count(inBuffer);
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, inBuffer, i) != 0 || e.size > kMaxEvent)
            continue;
        // One write per event, so the reader never sees a header without its bytes.
        unsigned char record[8 + kMaxEvent];
        const std::uint32_t header[2] = {cycleStart + e.time, std::uint32_t(e.size)};
        std::memcpy(record, header, sizeof header);
        std::memcpy(record + sizeof header, e.buffer, e.size);
        if (jack_ringbuffer_write_space(self->ring_) >= sizeof header + e.size)
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char *>(record),
                                  sizeof header + e.size);
    }

    void *outBuffer = jack_port_get_buffer(self->out_, nframes);
    jack_midi_clear_buffer(outBuffer);
    if (self->armed_.exchange(false, std::memory_order_acq_rel)) {
        self->next_ = 0;
        self->playStart_.store(cycleStart, std::memory_order_release);
    }
    if (!self->done_.load(std::memory_order_acquire)) {
        const std::uint32_t start = self->playStart_.load(std::memory_order_relaxed);
        while (self->next_ < self->schedule_.size()) {
            const Event &e = self->schedule_[self->next_];
            const std::uint32_t at = start + e.frame;
            if (at >= cycleStart + nframes)
                break;
            const std::uint32_t offset = at > cycleStart ? at - cycleStart : 0;
            jack_midi_event_write(outBuffer, offset, e.bytes.data(), e.bytes.size());
            self->written_[self->next_] = cycleStart + offset;
            ++self->next_;
        }
        if (self->next_ == self->schedule_.size())
            self->done_.store(true, std::memory_order_release);
    }
    self->cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

int JackMidiClient::xrun(void *arg)
{
    static_cast<JackMidiClient *>(arg)->xrunCounter_->fetch_add(1, std::memory_order_relaxed);
    return 0;
}

bool JackMidiClient::play(std::vector<Event> events, int timeoutMs)
{
    if (!done_.load(std::memory_order_acquire))
        return false;
    schedule_ = std::move(events); // the process thread reads it only while !done_
    written_.assign(schedule_.size(), 0);
    done_.store(false, std::memory_order_release);
    armed_.store(true, std::memory_order_release);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done_.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void JackMidiClient::drain()
{
    std::uint32_t header[2];
    while (jack_ringbuffer_read_space(ring_) >= sizeof header) {
        jack_ringbuffer_read(ring_, reinterpret_cast<char *>(header), sizeof header);
        Event e;
        e.frame = header[0];
        e.bytes.resize(header[1]);
        jack_ringbuffer_read(ring_, reinterpret_cast<char *>(e.bytes.data()), header[1]);
        received_.push_back(std::move(e));
    }
}

const std::vector<JackMidiClient::Event> &JackMidiClient::received()
{
    drain();
    return received_;
}

bool JackMidiClient::waitForReceived(std::size_t n, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received().size() < n) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void JackMidiClient::waitCycles(int cycles)
{
    const std::uint64_t target = cycles_.load(std::memory_order_acquire) + std::uint64_t(cycles);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (cycles_.load(std::memory_order_acquire) < target &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
