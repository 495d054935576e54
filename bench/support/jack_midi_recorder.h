#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A JACK client with one MIDI input port that records every event with its
// absolute frame (cycle start + offset): the destination and time witness of
// the streaming-port tests. Recording is lock-free and allocation-free.
class JackMidiRecorder
{
public:
    struct Event
    {
        uint32_t frame;
        std::vector<unsigned char> bytes;
    };

    JackMidiRecorder() = default;
    ~JackMidiRecorder();
    JackMidiRecorder(const JackMidiRecorder &) = delete;
    JackMidiRecorder &operator=(const JackMidiRecorder &) = delete;

    bool open(const std::string &clientName);
    void close();
    bool isOpen() const { return client_ != nullptr; }
    // "client:in", as RtMidi lists it.
    std::string portName() const;
    uint32_t frameNow() const { return jack_frame_time(client_); }
    uint32_t sampleRate() const { return jack_get_sample_rate(client_); }
    uint32_t period() const { return jack_get_buffer_size(client_); }

    size_t count() const { return count_.load(std::memory_order_acquire); }
    std::vector<Event> events() const;
    void clear()
    {
        count_.store(0, std::memory_order_release);
        xruns_.store(0);
    }
    // Cycles the server ran late since open or the last clear(): a late
    // cycle can push an event to a later cycle, so timing checks need none.
    unsigned xruns() const { return xruns_.load(); }
    // Waits until at least n events have arrived.
    bool waitFor(size_t n, int timeoutMs) const;

private:
    static constexpr size_t kMaxEvents = 4096;
    static constexpr size_t kMaxBytes = 64;
    struct Slot
    {
        uint32_t frame;
        uint32_t size;
        unsigned char bytes[kMaxBytes];
    };
    static int onProcess(jack_nframes_t nframes, void *self);
    static int onXrun(void *self);

    jack_client_t *client_ = nullptr;
    jack_port_t *port_ = nullptr;
    Slot slots_[kMaxEvents];
    std::atomic<size_t> count_{0};
    std::atomic<unsigned> xruns_{0};
};
