#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A raw JACK MIDI client for the simulator tests: plays a prepared list of
// events at exact frame offsets on its port "out" and records every event that
// arrives on its port "in" with its absolute frame. The process callback only
// reads the prepared list and writes to a ring buffer (no allocation, no lock).
class JackMidiClient
{
public:
    struct Event
    {
        std::uint32_t frame = 0; // absolute for received events, relative when played
        std::vector<unsigned char> bytes;
    };

    JackMidiClient() = default;
    ~JackMidiClient();
    JackMidiClient(const JackMidiClient &) = delete;
    JackMidiClient &operator=(const JackMidiClient &) = delete;

    // xrunCounter, when given, counts the server's xruns while the client is open.
    bool open(const std::string &name, std::atomic<int> *xrunCounter = nullptr);
    void close();
    std::string outPort() const { return name_ + ":out"; }
    std::string inPort() const { return name_ + ":in"; }
    std::uint32_t sampleRate() const;

    // Plays the events, frames relative to the first cycle after the call;
    // returns once the last one has been written (false on timeout).
    bool play(std::vector<Event> events, int timeoutMs = 10000);
    // Absolute frames at which the last play() really wrote its events (later
    // than planned when a cycle of this client ran late).
    const std::vector<std::uint32_t> &writtenFrames() const { return written_; }
    // Absolute frame at which the last play() started.
    std::uint32_t playStart() const { return playStart_.load(std::memory_order_acquire); }

    // Waits until at least n events have been received in total.
    bool waitForReceived(std::size_t n, int timeoutMs);
    // Everything received so far.
    const std::vector<Event> &received();
    // Waits for one full cycle (e.g. after connecting, before the first send).
    void waitCycles(int cycles);

private:
    static int process(jack_nframes_t nframes, void *arg);
    static int xrun(void *arg);
    void drain();

    jack_client_t *client_ = nullptr;
    jack_port_t *in_ = nullptr;
    jack_port_t *out_ = nullptr;
    jack_ringbuffer_t *ring_ = nullptr;
    std::string name_;
    std::vector<Event> schedule_;
    std::vector<std::uint32_t> written_; // sized before play, filled by the process thread
    std::atomic<bool> armed_{false};
    std::atomic<bool> done_{true};
    std::atomic<std::uint32_t> playStart_{0};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<int> *xrunCounter_ = nullptr;
    std::size_t next_ = 0; // process thread only
    std::vector<Event> received_;
};
