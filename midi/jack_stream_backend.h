#pragma once

#include "jack_cycle_watch.h"
#include "stream_backend.h"
#include "stream_schedule.h"

#include <jack/jack.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>

// Streaming output on JACK: a client of our own with one MIDI output port,
// connected to the destination. The send queues the unit's events; the
// process callback writes each at its exact frame, so the pieces are exactly
// 10 ms apart in frame time, and posts a semaphore once the unit's answer is
// in, a few cycles after the last one. On an asynchronous server a cycle can
// run without us (we were late, or another client was): the unit is then
// failed rather than finished with a piece missing or out of step
// (JackCycleWatch, docs/missed-cycles.md).
class JackStreamBackend final : public StreamBackend
{
public:
    // Our client's name. Its first word must not be an instrument's model
    // word, or the tool would list itself as an instrument.
    static constexpr const char *kClientName = "Tarnwick Updater";
    static constexpr const char *kWatchClientName = "Tarnwick Updater watch";
    static constexpr const char *kListenerClientName = "Tarnwick Updater listener";

    JackStreamBackend();
    ~JackStreamBackend() override;

    // libjack's state in a process whose server went away with clients open
    // stays broken, so that even a new client cannot register a port, until
    // the process's last client is closed.
    bool serviceStopped() const override;
    // A second client, without ports and outside the process graph, that
    // stays open for the backend's life: the stream's own client exists only
    // while a port is open, and a server that ends between uploads would go
    // unnoticed.
    void watchService() override;
    void leaveService() override;
    // PipeWire's libjack tells no client of another's overrun.
    unsigned unvouchedQuantum() const override;
    // RtMidi's output client has a process callback: the server waits for it
    // in every cycle, and it can be named late like any other client.
    bool listingClientRunsEachCycle() const override { return true; }

protected:
    void openStream(unsigned portNumber, const std::string &portName,
                    StreamPortList &ports) override;
    void playUnit(const unsigned char *unit, const stream_framing::Piece *pieces,
                  size_t count) override;
    void haltStream() override;
    void closeStream() override;
    std::optional<StreamProblem> loss() const override;

private:
    // Who holds the unit in events_. The only moves, each made in one function:
    //   Idle      -> Queued     send      queueUnit()    events written; the callback may play
    //   Queued    -> Played     callback  finishUnit()   the watch: played whole
    //   Queued    -> Failed     callback  finishUnit()   it cannot be played whole (failure_)
    //   Queued    -> Cancelled  send      cancelUnit()   the send stopped waiting
    //   Played, Failed -> Idle  send      takeBackUnit()
    //   Cancelled -> Idle       callback  dropCancelled()
    //   any       -> Idle       send      release()      the client is closed: no callback
    // The send writes events_ only in Idle; the callback reads them only in Queued.
    enum State : int
    {
        Idle,
        Queued,
        Played,
        Failed,
        Cancelled,
    };
    struct Event
    {
        uint32_t deltaFrames;
        uint32_t size;
        unsigned char bytes[stream_framing::kPieceBytes];
    };

    static int onProcess(jack_nframes_t nframes, void *self);
    static void onShutdown(jack_status_t, const char *, void *self);
    static void onPlainShutdown(void *self);
    static int onXrun(void *self);
    static void onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void *self);
    static int onListen(jack_nframes_t nframes, void *self);
    int process(jack_nframes_t nframes);
    bool heardSince(uint32_t fromFrame, uint32_t toFrame, uint32_t frames) const;
    void playDue(void *buffer, jack_nframes_t nframes, uint32_t cycleStart);

    void queueUnit(size_t count);
    void finishUnit(State state, StreamProblem failure);
    bool cancelUnit();
    State takeBackUnit();
    void dropCancelled();

    void waitCycles(unsigned cycles, unsigned timeoutMs);
    bool waitForIdle(unsigned timeoutMs);
    bool connectionNoticed();
    void openListener(const std::string &destination);
    StreamProblem settledFailure(StreamProblem failure);
    uint32_t ticksToFrames(uint32_t ticks) const;
    void release();

    jack_client_t *client_ = nullptr;
    jack_client_t *watch_ = nullptr;
    jack_port_t *port_ = nullptr;
    // A client of ours fed by the destination's client, so that it runs in a
    // cycle only after the destination finished it: the frame of each cycle
    // it ran in, by cycle. Only on jackd, and only where the destination's
    // client has an output port.
    static constexpr uint32_t kHeardCycles = 32;
    jack_client_t *listener_ = nullptr;
    std::atomic<uint32_t> heard_[kHeardCycles] = {};
    std::atomic<bool> listening_{false};
    sem_t done_;
    bool semReady_ = false;
    uint32_t sampleRate_ = 48000;

    // Written by the send while Idle, read by the callback once Queued.
    Event events_[stream_framing::kMaxPieces];
    std::atomic<int> eventCount_{0};
    std::atomic<int> state_{Idle};
    std::atomic<int> failure_{0};
    std::atomic<bool> shutdown_{false};
    std::atomic<uint32_t> cycles_{0};
    std::atomic<uint32_t> xrunNotices_{0}; // counted on JACK's notification thread
    std::atomic<int> connections_{0};      // our port's, counted there too

    // Process callback only.
    int next_ = 0;
    StreamSchedule schedule_;
    JackCycleWatch cycleWatch_;
};
