#include "jack_midi_recorder.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstring>
#include <thread>

JackMidiRecorder::~JackMidiRecorder()
{
    close();
}

bool JackMidiRecorder::open(const std::string &clientName)
{
    // A server that has just started, or is busy, can refuse a first open.
    for (int attempt = 0; attempt < 5 && !client_; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        client_ = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
    }
    if (!client_)
        return false;
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port_ || jack_set_process_callback(client_, &JackMidiRecorder::onProcess, this) != 0 ||
        jack_set_xrun_callback(client_, &JackMidiRecorder::onXrun, this) != 0 ||
        jack_activate(client_) != 0) {
        close();
        return false;
    }
    return true;
}

void JackMidiRecorder::close()
{
    if (client_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    client_ = nullptr;
    port_ = nullptr;
}

std::string JackMidiRecorder::portName() const
{
    return jack_port_name(port_);
}

std::vector<JackMidiRecorder::Event> JackMidiRecorder::events() const
{
    std::vector<Event> out;
    const size_t n = count();
    for (size_t i = 0; i < n; ++i)
        out.push_back({slots_[i].frame, std::vector<unsigned char>(
                                            slots_[i].bytes, slots_[i].bytes + slots_[i].size)});
    return out;
}

bool JackMidiRecorder::waitFor(size_t n, int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (count() < n) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int JackMidiRecorder::onXrun(void *self)
{
    static_cast<JackMidiRecorder *>(self)->xruns_.fetch_add(1);
    return 0;
}

int JackMidiRecorder::onProcess(jack_nframes_t nframes, void *self)
{
    auto *r = static_cast<JackMidiRecorder *>(self);
    void *buffer = jack_port_get_buffer(r->port_, nframes);
    const uint32_t cycleStart = jack_last_frame_time(r->client_);
    const uint32_t n = jack_midi_get_event_count(buffer);
    size_t count = r->count_.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n && count < kMaxEvents; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0)
            continue;
        Slot &slot = r->slots_[count];
        slot.frame = cycleStart + event.time;
        slot.size = static_cast<uint32_t>(event.size < kMaxBytes ? event.size : kMaxBytes);
        std::memcpy(slot.bytes, event.buffer, slot.size);
        ++count;
    }
    r->count_.store(count, std::memory_order_release);
    return 0;
}
