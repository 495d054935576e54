#pragma once

#include <cstdint>

// Decides whether a unit of timed pieces, written by a JACK client's process
// callback, reached its destination whole, from what that callback can see.
// Plain data in, answer out, no JACK calls: the same rules run in the stream
// port and on traces recorded from real servers. The rules and the reasons
// for their numbers: docs/missed-cycles.md.
class JackCycleWatch
{
public:
    // What a process callback sees at the start of its cycle.
    struct Cycle
    {
        uint32_t startFrame = 0; // jack_last_frame_time()
        uint32_t frames = 0;     // the cycle's length (nframes)
        uint64_t startUsecs = 0; // jack_get_cycle_times()'s current_usecs; 0: not known
        float periodUsecs = 0;   // jack_get_cycle_times()'s period_usecs
        float delayUsecs = 0;    // jack_get_xrun_delayed_usecs()
        // The server's largest xrun delay was found non-zero and cleared: its
        // driver reported an xrun since the cycle before.
        bool driverXrun = false;
        uint32_t notices = 0; // xrun notices received so far (wraps)
        // A client fed by the destination's client (our listener) finished
        // every cycle since our last one began: then the destination did too,
        // after reading what we wrote in them. True where nothing listens.
        bool listened = true;
        // Where the unit's next piece is due, while it has begun and a piece
        // is still to be written.
        bool pieceDue = false;
        uint32_t dueFrame = 0;
    };
    enum class Answer
    {
        NotKnownYet,
        Whole,
        NotWhole,
    };

    // A cycle that ends later than this after the unit's last piece cannot
    // hold it: the answer is in this many cycles after that piece's cycle.
    static constexpr uint32_t kSettleCycles = 4;

    // Forgets everything: a new client, whose first cycle has no predecessor.
    void reset();
    // Called at the start of every cycle, before anything is written in it.
    // The answer is about the unit in flight: NotKnownYet until it has begun
    // and while its last cycles are still open; Whole or NotWhole once, after
    // which no unit is in flight.
    Answer cycle(const Cycle &c);
    // Called in the cycle that wrote the unit's first piece, its last piece,
    // or both (a unit of one piece).
    void played(bool first, bool last);
    // The unit was given up before its answer: nothing is in flight.
    void abandon() { phase_ = Phase::None; }
    // Whether the driver itself was late for the last cycle fed.
    bool driverLate() const { return driverLate_; }
    // The cycle fed last; null before the first.
    const Cycle *lastCycle() const { return seenCycle_ ? &last_ : nullptr; }

private:
    enum class Phase
    {
        None,     // no unit, or one whose first piece is not written yet
        Playing,  // first piece written
        Settling, // last piece written; waiting for its cycles' notices
    };
    bool missedCycle(const Cycle &c) const;
    bool driverWasLate(const Cycle &c) const;
    void sortNotices(uint32_t notices);

    bool seenCycle_ = false;
    Cycle last_;
    uint32_t cycle_ = 0; // cycles fed since reset()
    bool driverLate_ = false;

    // The driver's late cycles, to match against the notices they cause.
    bool seenDriverXrun_ = false;
    uint32_t lastDriverXrunCycle_ = 0;
    uint32_t driverXrunsUnmatched_ = 0;
    // The notice counter as read in the last kNoticeLagCycles cycles, oldest
    // first, and how many notices are sorted.
    uint32_t noticesRead_[2] = {};
    uint32_t noticesSorted_ = 0;
    uint32_t lateClients_ = 0; // notices no driver xrun accounts for

    Phase phase_ = Phase::None;
    uint32_t unitLateClients_ = 0; // lateClients_ when the first piece was written
    uint32_t lastPieceCycle_ = 0;
    bool playedLastCycle_ = false; // a piece was written in the cycle fed last
    bool unheardPiece_ = false;    // the cycle before a piece's was not listened to
};
