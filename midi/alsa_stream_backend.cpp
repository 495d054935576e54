#include "alsa_stream_backend.h"

#include <poll.h>

#include <ctime>
#include <string>

using namespace stream_framing;

namespace {

constexpr int kCompletionSlackMs = 2000;
constexpr uint32_t kStartLeadTicks = 2;
constexpr int kHandOverAttempts = 10;
// A unit is at most 524 bytes plus event heads; leave ample room.
constexpr size_t kOutputBufferBytes = 16384;

long long monotonicMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

AlsaStreamBackend::AlsaStreamBackend() : StreamBackend("MidiOutAlsa") {}

AlsaStreamBackend::~AlsaStreamBackend()
{
    close();
}

void AlsaStreamBackend::openStream(unsigned portNumber, const std::string &portName,
                                   StreamPortList &ports)
{
    const std::string destination = ports.name(portNumber);
    if (!parseAlsaAddress(destination, destination_))
        failRefused("destination \"" + destination + "\" has no client:port address");
    if (snd_seq_queue_status_malloc(&status_) < 0 || snd_seq_remove_events_malloc(&remove_) < 0) {
        release();
        fail(StreamProblem::NoCompletionEvent);
    }

    // The first call that refused, with its error code.
    std::string refusal;
    const auto refused = [&refusal](const char *call, int rc) {
        refusal =
            std::string(call) + " returned " + std::to_string(rc) + " (" + snd_strerror(rc) + ")";
    };
    int rc = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0);
    if (rc < 0) {
        seq_ = nullptr;
        refused("snd_seq_open", rc);
    } else {
        snd_seq_set_client_name(seq_, kClientName);
        snd_seq_set_output_buffer_size(seq_, kOutputBufferBytes);
        own_.client = snd_seq_client_id(seq_);
        own_.port = snd_seq_create_simple_port(
            seq_, portName.empty() ? "output" : portName.c_str(),
            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (own_.port < 0)
            refused("snd_seq_create_simple_port", own_.port);
    }
    if (refusal.empty() &&
        (rc = snd_seq_connect_to(seq_, own_.port, destination_.client, destination_.port)) < 0)
        refused("snd_seq_connect_to", rc);
    if (refusal.empty()) {
        // Announcements tell us when the destination goes away; failing to
        // hear them only costs the early warning, the time bound remains.
        snd_seq_connect_from(seq_, own_.port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        queue_ = snd_seq_alloc_named_queue(seq_, kClientName);
        if (queue_ < 0)
            refused("snd_seq_alloc_named_queue", queue_);
    }
    if (refusal.empty()) {
        snd_seq_queue_tempo_t *tempo;
        snd_seq_queue_tempo_alloca(&tempo);
        snd_seq_queue_tempo_set_tempo(tempo, kTempoMicros);
        snd_seq_queue_tempo_set_ppq(tempo, static_cast<int>(kTicksPerQuarter));
        // The queue controls answer with what is left in the output buffer
        // (a positive count) on success; only a negative result is an error.
        if ((rc = snd_seq_set_queue_tempo(seq_, queue_, tempo)) < 0)
            refused("snd_seq_set_queue_tempo", rc);
        else if ((rc = snd_seq_start_queue(seq_, queue_, nullptr)) < 0)
            refused("snd_seq_start_queue", rc);
        else if ((rc = snd_seq_drain_output(seq_)) < 0)
            refused("snd_seq_drain_output", rc);
    }
    if (!refusal.empty()) {
        release();
        failRefused(refusal);
    }
}

// Events still in our output buffer or waiting in the queue are dropped.
void AlsaStreamBackend::haltStream()
{
    snd_seq_drop_output(seq_);
    snd_seq_stop_queue(seq_, queue_, nullptr);
    snd_seq_drain_output(seq_);
}

void AlsaStreamBackend::closeStream()
{
    release();
}

void AlsaStreamBackend::release()
{
    if (seq_) {
        if (queue_ >= 0) {
            snd_seq_stop_queue(seq_, queue_, nullptr);
            snd_seq_drain_output(seq_);
            snd_seq_free_queue(seq_, queue_);
        }
        snd_seq_close(seq_);
    }
    seq_ = nullptr;
    queue_ = -1;
    if (status_)
        snd_seq_queue_status_free(status_);
    status_ = nullptr;
    if (remove_)
        snd_seq_remove_events_free(remove_);
    remove_ = nullptr;
    schedule_.reset();
    lost_ = false;
}

void AlsaStreamBackend::playUnit(const unsigned char *unit, const Piece *pieces, size_t count)
{
    if (lost_)
        fail(StreamProblem::DestinationGone);
    // The pieces are timed from a tick that must still lie ahead when the
    // sequencer takes them: a piece due at a moment already past would leave at
    // once and the next one on time, less than 10 ms later. The current tick
    // began up to 2 ms ago, so the first piece waits for the tick after next,
    // and the queue's time is read again right before the hand-over: a sender
    // held up in between (a busy machine) times the unit afresh.
    uint32_t playTicks = 0;
    for (int attempt = 0;; ++attempt) {
        if (snd_seq_get_queue_status(seq_, queue_, status_) < 0)
            fail(StreamProblem::ServiceGone);
        const uint32_t now = snd_seq_queue_status_get_tick_time(status_) + kStartLeadTicks;
        StreamSchedule schedule = schedule_;
        playTicks = 0;
        uint32_t first = 0;
        snd_seq_event_t event;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t tick = schedule.due(now, pieces[i].deltaTicks);
            if (i == 0)
                first = tick;
            makeAlsaPieceEvent(event, queue_, tick, own_.port, unit + pieces[i].offset,
                               pieces[i].length);
            if (snd_seq_event_output(seq_, &event) < 0) {
                dropPending();
                fail(StreamProblem::EventRefused);
            }
            schedule.played(tick);
            playTicks += pieces[i].deltaTicks;
        }
        makeAlsaEchoEvent(event, queue_, schedule.last(), own_.client, own_.port);
        if (snd_seq_event_output(seq_, &event) < 0) {
            dropPending();
            fail(StreamProblem::EventRefused);
        }
        if (snd_seq_get_queue_status(seq_, queue_, status_) < 0) {
            dropPending();
            fail(StreamProblem::ServiceGone);
        }
        const auto ahead =
            static_cast<int32_t>(first - snd_seq_queue_status_get_tick_time(status_));
        if (ahead >= static_cast<int32_t>(kStartLeadTicks) || attempt == kHandOverAttempts) {
            if (snd_seq_drain_output(seq_) < 0) {
                dropPending();
                fail(StreamProblem::EventRefused);
            }
            schedule_ = schedule;
            break;
        }
        snd_seq_drop_output(seq_); // nothing of it has reached the sequencer
    }

    const int boundMs = static_cast<int>((playTicks + 2 * kStartLeadTicks) * kTickMicros / 1000u) +
                        kCompletionSlackMs;
    switch (awaitEcho(boundMs)) {
    case Outcome::Echoed:
        return;
    case Outcome::Lost:
        dropPending();
        fail(StreamProblem::DestinationGone);
        return;
    case Outcome::TimedOut:
        dropPending();
        fail(StreamProblem::NotPlayedInTime, static_cast<unsigned long long>(boundMs));
        return;
    }
}

// Between units: reads the announcements that came in meanwhile, without
// waiting (the sequencer handle blocks, so only once poll says it has input).
std::optional<StreamProblem> AlsaStreamBackend::loss() const
{
    pollfd fds[4];
    const int nfds = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
    while (snd_seq_event_input_pending(seq_, 0) > 0 ||
           poll(fds, static_cast<nfds_t>(nfds), 0) > 0) {
        snd_seq_event_t *in = nullptr;
        if (snd_seq_event_input(seq_, &in) < 0 || !in)
            break;
        if (alsaAnnouncesLoss(*in, destination_, own_))
            lost_ = true;
    }
    if (lost_)
        return StreamProblem::DestinationLost;
    return std::nullopt;
}

AlsaStreamBackend::Outcome AlsaStreamBackend::awaitEcho(int timeoutMs)
{
    const long long deadline = monotonicMs() + timeoutMs;
    pollfd fds[4];
    const int nfds = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
    for (;;) {
        while (snd_seq_event_input_pending(seq_, 1) > 0) {
            snd_seq_event_t *in = nullptr;
            if (snd_seq_event_input(seq_, &in) < 0 || !in)
                break;
            if (alsaAnnouncesLoss(*in, destination_, own_))
                lost_ = true;
            else if (in->type == SND_SEQ_EVENT_ECHO && in->source.client == own_.client)
                return lost_ ? Outcome::Lost : Outcome::Echoed;
        }
        if (lost_)
            return Outcome::Lost;
        const long long left = deadline - monotonicMs();
        if (left <= 0)
            return Outcome::TimedOut;
        poll(fds, static_cast<nfds_t>(nfds), static_cast<int>(left));
    }
}

// Takes back what a failed send left queued, so nothing of it plays later.
void AlsaStreamBackend::dropPending()
{
    snd_seq_remove_events_set_condition(remove_, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_INPUT |
                                                     SND_SEQ_REMOVE_IGNORE_OFF);
    snd_seq_remove_events_set_queue(remove_, queue_);
    snd_seq_remove_events(seq_, remove_);
    snd_seq_drop_output(seq_);
    schedule_.reset();
}
