#include "jack_stream_backend.h"

#include "jack_cycle_reading.h"
#include "pipewire_quantum.h"

#include <jack/midiport.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

using namespace stream_framing;

namespace {

// Set by any of our clients told of the server's end; cleared once every
// client of the process has gone (leaveService).
std::atomic<bool> serverGoneInProcess{false};

constexpr uint64_t kConnectWaitMs = 1000;

constexpr long kNanosPerSecond = 1000000000L;
// How long a send waits beyond the unit's own play time.
constexpr unsigned kCompletionSlackMs = 2000;
constexpr int kOpenAttempts = 3;
// How long a send waits for the port-connect callback to report the
// connection that jack_port_connected() already shows.
constexpr unsigned kConnectNoticeWaitMs = 250;
// How long a unit failed for a missed cycle waits to see whether the
// destination or the server went: a client that died misses cycles before
// its ports are gone, and that loss is the truer report.
constexpr unsigned kLossNoticeWaitMs = 500;

timespec monotonicNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec addMicros(timespec t, uint64_t micros)
{
    const uint64_t nanos = static_cast<uint64_t>(t.tv_nsec) + micros * 1000u;
    t.tv_sec += static_cast<time_t>(nanos / kNanosPerSecond);
    t.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
    return t;
}

bool passed(const timespec &deadline)
{
    const timespec now = monotonicNow();
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// "status 0x11 (JackFailure, JackServerFailed)": jack_client_open's reasons.
std::string jackStatusText(jack_status_t status)
{
    static const struct
    {
        jack_status_t bit;
        const char *name;
    } kBits[] = {{JackFailure, "JackFailure"},
                 {JackInvalidOption, "JackInvalidOption"},
                 {JackNameNotUnique, "JackNameNotUnique"},
                 {JackServerStarted, "JackServerStarted"},
                 {JackServerFailed, "JackServerFailed"},
                 {JackServerError, "JackServerError"},
                 {JackNoSuchClient, "JackNoSuchClient"},
                 {JackLoadFailure, "JackLoadFailure"},
                 {JackInitFailure, "JackInitFailure"},
                 {JackShmFailure, "JackShmFailure"},
                 {JackVersionError, "JackVersionError"},
                 {JackBackendError, "JackBackendError"},
                 {JackClientZombie, "JackClientZombie"}};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(status));
    std::string names;
    for (const auto &b : kBits)
        if (status & b.bit)
            names += (names.empty() ? "" : ", ") + std::string(b.name);
    return "status " + std::string(hex) + (names.empty() ? "" : " (" + names + ")");
}

void sleepMicros(uint64_t micros)
{
    timespec t{static_cast<time_t>(micros / 1000000u),
               static_cast<long>((micros % 1000000u) * 1000u)};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

} // namespace

JackStreamBackend::JackStreamBackend() : StreamBackend("MidiOutJack") {}

JackStreamBackend::~JackStreamBackend()
{
    close();
    if (watch_)
        jack_client_close(watch_);
}

void JackStreamBackend::watchService()
{
    if (watch_ || serverGoneInProcess.load())
        return;
    watch_ = jack_client_open(kWatchClientName, JackNoStartServer, nullptr);
    if (!watch_)
        return;
    // jackd calls the second, PipeWire's libjack only the first.
    jack_on_shutdown(
        watch_, [](void *) { serverGoneInProcess.store(true); }, nullptr);
    jack_on_info_shutdown(
        watch_, [](jack_status_t, const char *, void *) { serverGoneInProcess.store(true); },
        nullptr);
    // Without a process callback the client takes no part in the cycles;
    // PipeWire's libjack tells only an active client of the server's end.
    jack_activate(watch_);
}

void JackStreamBackend::leaveService()
{
    if (watch_)
        jack_client_close(watch_);
    watch_ = nullptr;
    serverGoneInProcess.store(false);
}

unsigned JackStreamBackend::unvouchedQuantum() const
{
    if (!client_ || !pipewire_quantum::libjackIsPipeWire())
        return 0;
    // An active client's buffer size is the graph's quantum now.
    const jack_nframes_t frames = jack_get_buffer_size(client_);
    return pipewire_quantum::tooSmall(frames, sampleRate_) ? frames : 0;
}

void JackStreamBackend::openStream(unsigned portNumber, const std::string &portName,
                                   StreamPortList &ports)
{
    const std::string destination = ports.name(portNumber);
    if (sem_init(&done_, 0, 0) != 0)
        fail(StreamProblem::NoCompletionEvent);
    semReady_ = true;

    // A server busy with a loaded machine can miss the answer's deadline;
    // a second try then usually succeeds.
    jack_status_t status{};
    for (int attempt = 0; attempt < kOpenAttempts && !client_; ++attempt) {
        if (attempt > 0)
            sleepMicros(100000);
        client_ = jack_client_open(kClientName, JackNoStartServer, &status);
        if (!client_ && (status & JackServerFailed))
            break; // no server at all: trying again will not help
    }
    // The first call that refused, with what it returned.
    std::string refusal;
    int rc = 0;
    if (!client_) {
        refusal = "jack_client_open returned NULL, " + jackStatusText(status);
    } else if (!(port_ = jack_port_register(client_, portName.empty() ? "output" : portName.c_str(),
                                            JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0))) {
        refusal = "jack_port_register returned NULL";
    } else if (destination.empty()) {
        refusal = "destination " + std::to_string(portNumber) + " is no longer listed";
    } else if ((rc = jack_set_process_callback(client_, &JackStreamBackend::onProcess, this))) {
        refusal = "jack_set_process_callback returned " + std::to_string(rc);
    } else {
        // jackd calls the second, PipeWire's libjack only the first.
        jack_on_shutdown(client_, &JackStreamBackend::onPlainShutdown, this);
        jack_on_info_shutdown(client_, &JackStreamBackend::onShutdown, this);
        sampleRate_ = jack_get_sample_rate(client_);
        if ((rc = jack_set_xrun_callback(client_, &JackStreamBackend::onXrun, this)))
            refusal = "jack_set_xrun_callback returned " + std::to_string(rc);
        else if ((rc =
                      jack_set_port_connect_callback(client_, &JackStreamBackend::onConnect, this)))
            refusal = "jack_set_port_connect_callback returned " + std::to_string(rc);
        else if ((rc = jack_activate(client_)))
            refusal = "jack_activate returned " + std::to_string(rc);
        else if ((rc = jack_connect(client_, jack_port_name(port_), destination.c_str())) &&
                 rc != EEXIST)
            refusal = "jack_connect to " + destination + " returned " + std::to_string(rc);
    }
    if (!refusal.empty()) {
        release();
        failRefused(refusal);
    }
    openListener(destination);
    // PipeWire's libjack makes the connection after jack_connect returns: wait
    // until the port has it (bounded; a send without it reports the loss).
    // Then an event written in the cycle a connection is made can be lost.
    const timespec deadline = addMicros(monotonicNow(), kConnectWaitMs * 1000u);
    while (jack_port_connected(port_) == 0 && !passed(deadline) && !shutdown_.load())
        sleepMicros(500);
    waitCycles(2, 500);
    // From here on the listener has run in the graph that holds its connection.
    listening_.store(listener_ != nullptr);
}

// Best effort: without the listener the watch still has the xrun notices.
// PipeWire's libjack runs a client fed by another as jackd does, but it is
// not measured there, and its quantum is held long enough for the notices.
// A physical port is the driver's own, which finishes no cycle late.
void JackStreamBackend::openListener(const std::string &destination)
{
    if (pipewire_quantum::libjackIsPipeWire())
        return;
    jack_port_t *target = jack_port_by_name(client_, destination.c_str());
    if (!target || (jack_port_flags(target) & JackPortIsPhysical))
        return;
    const std::string full = jack_port_name(target);
    const std::string prefix =
        full.substr(0, full.size() - std::strlen(jack_port_short_name(target)));
    std::string source, type;
    if (const char **outputs = jack_get_ports(client_, nullptr, nullptr, JackPortIsOutput)) {
        for (const char **name = outputs; *name && source.empty(); ++name) {
            if (std::strncmp(*name, prefix.c_str(), prefix.size()) != 0)
                continue;
            if (const jack_port_t *port = jack_port_by_name(client_, *name)) {
                source = *name;
                type = jack_port_type(port);
            }
        }
        jack_free(outputs);
    }
    if (source.empty())
        return;
    listener_ = jack_client_open(kListenerClientName, JackNoStartServer, nullptr);
    jack_port_t *input =
        listener_ ? jack_port_register(listener_, "input", type.c_str(), JackPortIsInput, 0)
                  : nullptr;
    if (!input || jack_set_process_callback(listener_, &JackStreamBackend::onListen, this) != 0 ||
        jack_activate(listener_) != 0 ||
        jack_connect(listener_, source.c_str(), jack_port_name(input)) != 0) {
        if (listener_)
            jack_client_close(listener_);
        listener_ = nullptr;
    }
}

// The listener's process thread, in real time: runs only once the
// destination's client has finished the cycle (or gave up on it).
int JackStreamBackend::onListen(jack_nframes_t nframes, void *self)
{
    auto *backend = static_cast<JackStreamBackend *>(self);
    const jack_nframes_t frame = jack_last_frame_time(backend->listener_);
    backend->heard_[(frame / nframes) % kHeardCycles].store(frame, std::memory_order_release);
    return 0;
}

// Whether the listener ran in every cycle from fromFrame up to toFrame.
bool JackStreamBackend::heardSince(uint32_t fromFrame, uint32_t toFrame, uint32_t frames) const
{
    if (frames == 0 || (toFrame - fromFrame) / frames >= kHeardCycles)
        return false;
    for (uint32_t frame = fromFrame; frame != toFrame; frame += frames)
        if (heard_[(frame / frames) % kHeardCycles].load(std::memory_order_acquire) != frame)
            return false;
    return true;
}

StreamProblem JackStreamBackend::settledFailure(StreamProblem failure)
{
    if (failure != StreamProblem::MissedCycle || !listening_.load())
        return failure;
    const timespec deadline = addMicros(monotonicNow(), kLossNoticeWaitMs * 1000u);
    while (connections_.load(std::memory_order_relaxed) > 0 && !shutdown_.load() &&
           !passed(deadline))
        sleepMicros(1000);
    if (shutdown_.load())
        return StreamProblem::ServiceGone;
    if (connections_.load(std::memory_order_relaxed) <= 0)
        return StreamProblem::DestinationGone;
    return failure;
}

// A unit a send gave up on is dropped by the next cycle; nothing else is queued.
void JackStreamBackend::haltStream()
{
    cancelUnit();
}

void JackStreamBackend::closeStream()
{
    release();
}

void JackStreamBackend::release()
{
    listening_.store(false);
    if (listener_) {
        if (!shutdown_.load())
            jack_deactivate(listener_);
        jack_client_close(listener_);
    }
    listener_ = nullptr;
    for (auto &frame : heard_)
        frame.store(0);
    if (client_) {
        if (!shutdown_.load())
            jack_deactivate(client_);
        jack_client_close(client_);
    }
    client_ = nullptr;
    port_ = nullptr;
    if (semReady_)
        sem_destroy(&done_);
    semReady_ = false;
    state_.store(Idle);
    shutdown_.store(false);
    next_ = 0;
    schedule_.reset();
    cycleWatch_.reset();
    xrunNotices_.store(0);
    connections_.store(0);
}

uint32_t JackStreamBackend::ticksToFrames(uint32_t ticks) const
{
    const uint64_t micros = static_cast<uint64_t>(ticks) * kTickMicros;
    return static_cast<uint32_t>((micros * sampleRate_ + 500000u) / 1000000u);
}

void JackStreamBackend::playUnit(const unsigned char *unit, const Piece *pieces, size_t count)
{
    if (shutdown_.load())
        fail(StreamProblem::ServiceGone);
    // A unit given up earlier may still be in the callback's hands.
    if (!waitForIdle(250))
        fail(StreamProblem::PreviousUnitHeld);
    if (jack_port_connected(port_) == 0 || !connectionNoticed())
        fail(StreamProblem::DestinationGone);

    uint32_t playTicks = 0;
    for (size_t i = 0; i < count; ++i) {
        events_[i].deltaFrames = ticksToFrames(pieces[i].deltaTicks);
        events_[i].size = pieces[i].length;
        std::memcpy(events_[i].bytes, unit + pieces[i].offset, pieces[i].length);
        playTicks += pieces[i].deltaTicks;
    }
    const uint32_t boundMs = playTicks * kTickMicros / 1000u + kCompletionSlackMs;
    const timespec deadline = addMicros(monotonicNow(), uint64_t{boundMs} * 1000u);
    queueUnit(count);

    for (;;) {
        const int rc = sem_clockwait(&done_, CLOCK_MONOTONIC, &deadline);
        const bool timedOut = rc != 0 && errno == ETIMEDOUT;
        const int state = state_.load(std::memory_order_acquire);
        if (state == Played || state == Failed)
            break;
        // Unless the callback finished the unit meanwhile: then the loop takes that.
        if ((shutdown_.load() || timedOut) && cancelUnit())
            fail(shutdown_.load() ? StreamProblem::ServiceGone : StreamProblem::NotPlayedInTime,
                 boundMs);
    }
    if (takeBackUnit() == Failed)
        fail(settledFailure(static_cast<StreamProblem>(failure_.load())));
}

std::optional<StreamProblem> JackStreamBackend::loss() const
{
    if (shutdown_.load())
        return StreamProblem::ServiceStopped;
    if (jack_port_connected(port_) == 0)
        return StreamProblem::DestinationLost;
    return std::nullopt;
}

void JackStreamBackend::waitCycles(unsigned cycles, unsigned timeoutMs)
{
    const uint32_t start = cycles_.load();
    const timespec deadline = addMicros(monotonicNow(), uint64_t{timeoutMs} * 1000u);
    while (cycles_.load() - start < cycles && !passed(deadline) && !shutdown_.load())
        sleepMicros(500);
}

// The process callback knows the connection only from the port-connect
// callback, whose notice can come after jack_connect() has returned.
bool JackStreamBackend::connectionNoticed()
{
    const timespec deadline = addMicros(monotonicNow(), kConnectNoticeWaitMs * 1000u);
    while (connections_.load(std::memory_order_relaxed) <= 0) {
        if (passed(deadline) || shutdown_.load())
            return false;
        sleepMicros(500);
    }
    return true;
}

bool JackStreamBackend::waitForIdle(unsigned timeoutMs)
{
    const timespec deadline = addMicros(monotonicNow(), uint64_t{timeoutMs} * 1000u);
    while (takeBackUnit() != Idle) {
        if (passed(deadline) || shutdown_.load())
            return false;
        sleepMicros(500);
    }
    return true;
}

void JackStreamBackend::queueUnit(size_t count)
{
    while (sem_trywait(&done_) == 0) {
    }
    eventCount_.store(static_cast<int>(count), std::memory_order_relaxed);
    state_.store(Queued, std::memory_order_release);
}

bool JackStreamBackend::cancelUnit()
{
    int expected = Queued;
    return state_.compare_exchange_strong(expected, Cancelled);
}

// Returns the state found; a finished unit (Played or Failed) is Idle after.
JackStreamBackend::State JackStreamBackend::takeBackUnit()
{
    const int state = state_.load(std::memory_order_acquire);
    if (state == Played || state == Failed)
        state_.store(Idle, std::memory_order_release);
    return static_cast<State>(state);
}

int JackStreamBackend::onProcess(jack_nframes_t nframes, void *self)
{
    return static_cast<JackStreamBackend *>(self)->process(nframes);
}

bool JackStreamBackend::serviceStopped() const
{
    return serverGoneInProcess.load();
}

void JackStreamBackend::onPlainShutdown(void *self)
{
    onShutdown(JackFailure, nullptr, self);
}

void JackStreamBackend::onShutdown(jack_status_t, const char *, void *self)
{
    auto *backend = static_cast<JackStreamBackend *>(self);
    serverGoneInProcess.store(true);
    backend->shutdown_.store(true);
    sem_post(&backend->done_);
}

// On JACK's notification thread, some time after any xrun: the notice does
// not say whose. The cycle watch tells the driver's from a client's.
int JackStreamBackend::onXrun(void *self)
{
    static_cast<JackStreamBackend *>(self)->xrunNotices_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

// On JACK's notification thread, after any connection in the graph was made
// or broken: counts our port's, so that the process callback need not ask
// the graph.
void JackStreamBackend::onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void *self)
{
    auto *backend = static_cast<JackStreamBackend *>(self);
    const jack_port_t *ours = backend->port_;
    if (jack_port_by_id(backend->client_, a) != ours &&
        jack_port_by_id(backend->client_, b) != ours)
        return;
    backend->connections_.fetch_add(connect ? 1 : -1, std::memory_order_relaxed);
}

void JackStreamBackend::finishUnit(State state, StreamProblem failure)
{
    failure_.store(static_cast<int>(failure), std::memory_order_relaxed);
    next_ = 0;
    state_.store(state, std::memory_order_release);
    sem_post(&done_);
}

void JackStreamBackend::dropCancelled()
{
    next_ = 0;
    state_.store(Idle, std::memory_order_release);
}

// JACK's process thread, once a cycle, in real time: no locks, no
// allocation, no waiting, no walk of the graph. Beyond this object it calls
// only JACK's port-buffer, MIDI-event, cycle-time and xrun-statistics functions,
// and sem_post.
int JackStreamBackend::process(jack_nframes_t nframes)
{
    cycles_.fetch_add(1, std::memory_order_relaxed);
    void *buffer = jack_port_get_buffer(port_, nframes);
    jack_midi_clear_buffer(buffer);
    JackCycleWatch::Cycle cycle =
        readCycle(client_, nframes, xrunNotices_.load(std::memory_order_relaxed));
    const int count = eventCount_.load(std::memory_order_relaxed);
    const JackCycleWatch::Cycle *last = cycleWatch_.lastCycle();
    if (last && listening_.load(std::memory_order_relaxed))
        cycle.listened = heardSince(last->startFrame, cycle.startFrame, nframes);
    if (state_.load(std::memory_order_acquire) == Queued && next_ > 0 && next_ < count) {
        cycle.pieceDue = true;
        cycle.dueFrame = schedule_.last() + events_[next_].deltaFrames;
    }
    // Whether the unit in flight was played whole: docs/missed-cycles.md.
    const JackCycleWatch::Answer answer = cycleWatch_.cycle(cycle);

    const int state = state_.load(std::memory_order_acquire);
    if (state == Cancelled) {
        cycleWatch_.abandon();
        dropCancelled();
        return 0;
    }
    if (state != Queued)
        return 0;
    // Events written to an unconnected port vanish: that unit is not played.
    if (connections_.load(std::memory_order_relaxed) <= 0) {
        cycleWatch_.abandon();
        finishUnit(Failed, StreamProblem::DestinationGone);
        return 0;
    }
    if (answer == JackCycleWatch::Answer::NotWhole) {
        finishUnit(Failed, StreamProblem::MissedCycle);
        return 0;
    }
    if (answer == JackCycleWatch::Answer::Whole) {
        finishUnit(Played, StreamProblem::EventRefused);
        return 0;
    }
    playDue(buffer, nframes, cycle.startFrame);
    return 0;
}

// Writes the events due in this cycle. The unit is handed back only once the
// watch has its answer, some cycles after the last event.
void JackStreamBackend::playDue(void *buffer, jack_nframes_t nframes, uint32_t cycleStart)
{
    const int count = eventCount_.load(std::memory_order_relaxed);
    const bool first = next_ == 0;
    const int from = next_;
    while (next_ < count) {
        const Event &event = events_[next_];
        const uint32_t due = schedule_.due(cycleStart, event.deltaFrames);
        const uint32_t offset = due - cycleStart;
        if (offset >= nframes)
            break;
        if (jack_midi_event_write(buffer, offset, event.bytes, event.size) != 0) {
            cycleWatch_.abandon();
            finishUnit(Failed, StreamProblem::EventRefused);
            return;
        }
        schedule_.played(due);
        ++next_;
    }
    if (next_ != from)
        cycleWatch_.played(first, next_ == count);
}
