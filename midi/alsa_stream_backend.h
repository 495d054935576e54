#pragma once

#include "alsa_stream_events.h"
#include "stream_backend.h"
#include "stream_schedule.h"

#include <alsa/asoundlib.h>

// Streaming output on the ALSA sequencer: a client and port of our own,
// connected to the destination, and a queue with the stream's time base
// (500 ticks per quarter at 1,000,000 us, so a tick is 2 ms). The pieces are
// scheduled on the queue; an echo event to ourselves behind the last piece
// tells the send that the unit has been delivered; announcements from the
// system port tell it that the destination went away.
//
// The build and test machines have no sound hardware; the tests run this
// backend on the kernel's sequencer inside a QEMU guest (scripts/guest-run).
class AlsaStreamBackend final : public StreamBackend
{
public:
    static constexpr const char *kClientName = "Tarnwick Updater";

    AlsaStreamBackend();
    ~AlsaStreamBackend() override;

protected:
    void openStream(unsigned portNumber, const std::string &portName,
                    StreamPortList &ports) override;
    void playUnit(const unsigned char *unit, const stream_framing::Piece *pieces,
                  size_t count) override;
    void haltStream() override;
    void closeStream() override;
    std::optional<StreamProblem> loss() const override;

private:
    enum class Outcome
    {
        Echoed,
        Lost,
        TimedOut,
    };
    Outcome awaitEcho(int timeoutMs);
    void dropPending();
    void release();

    snd_seq_t *seq_ = nullptr;
    AlsaAddress own_;
    AlsaAddress destination_;
    int queue_ = -1;
    snd_seq_queue_status_t *status_ = nullptr;
    snd_seq_remove_events_t *remove_ = nullptr;
    StreamSchedule schedule_;
    mutable bool lost_ = false; // the sequencer announced the destination's loss
};
