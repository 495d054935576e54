#include "jack_cycle_watch.h"

// The numbers below are explained, with the traces that show them, in
// docs/missed-cycles.md.
namespace {

// A cycle that begins more than this part of a period later than the cycles
// since our last one account for was begun late by the driver. On time the
// filtered cycle times keep within a few tens of microseconds of the period.
constexpr float kDriverLateSlackPeriods = 0.5f;
// Cycles after a driver's late cycle whose notices are all the driver's: a
// late cycle catches every client unfinished, and each such client's notice
// comes within a few cycles.
constexpr uint32_t kDriverEchoCycles = 8;
// Cycles a driver's late cycle waits for its own notice, which JACK's
// notification thread delivers late on a loaded machine.
constexpr uint32_t kDriverNoticeWaitCycles = 64;
// Cycles a notice waits before it is sorted: the driver's notice can be read
// in the cycle before the one that shows the driver late.
constexpr uint32_t kNoticeLagCycles = 2;

} // namespace

void JackCycleWatch::reset()
{
    *this = JackCycleWatch();
}

bool JackCycleWatch::missedCycle(const Cycle &c) const
{
    return seenCycle_ && c.startFrame != last_.startFrame + last_.frames;
}

bool JackCycleWatch::driverWasLate(const Cycle &c) const
{
    if (!seenCycle_) // the largest delay may be left from long before
        return false;
    if (c.driverXrun || c.delayUsecs != last_.delayUsecs)
        return true;
    if (c.startUsecs == 0 || last_.startUsecs == 0 || c.frames == 0)
        return false;
    // Cycles we did not run in (frames between our cycles) are not lateness:
    // the time they took is theirs.
    const float cycles = static_cast<float>(c.startFrame - last_.startFrame) / c.frames;
    const auto elapsed = static_cast<int64_t>(c.startUsecs - last_.startUsecs);
    return static_cast<float>(elapsed) > (cycles + kDriverLateSlackPeriods) * c.periodUsecs;
}

// Notices do not say whose they are. Those near a late cycle of the driver
// are its own; any other is a client that overran its cycle alone.
void JackCycleWatch::sortNotices(uint32_t notices)
{
    if (driverLate_) {
        ++driverXrunsUnmatched_;
        lastDriverXrunCycle_ = cycle_;
        seenDriverXrun_ = true;
    } else if (cycle_ - lastDriverXrunCycle_ > kDriverNoticeWaitCycles) {
        driverXrunsUnmatched_ = 0; // its notice never came
    }
    const bool echo = seenDriverXrun_ && cycle_ - lastDriverXrunCycle_ <= kDriverEchoCycles;
    const uint32_t due = noticesRead_[0];
    static_assert(kNoticeLagCycles == 2, "noticesRead_ holds two cycles");
    noticesRead_[0] = noticesRead_[1];
    noticesRead_[1] = notices;
    for (; noticesSorted_ != due; ++noticesSorted_) {
        if (echo)
            driverXrunsUnmatched_ = 0;
        else if (driverXrunsUnmatched_ > 0)
            --driverXrunsUnmatched_;
        else
            ++lateClients_;
    }
}

JackCycleWatch::Answer JackCycleWatch::cycle(const Cycle &c)
{
    if (!seenCycle_) { // the counter may not start at zero
        noticesRead_[0] = noticesRead_[1] = noticesSorted_ = c.notices;
    }
    ++cycle_;
    const bool wroteBefore = playedLastCycle_;
    playedLastCycle_ = false;
    // A cycle run without us moved a piece if one was due in it, or if we
    // wrote one in our last cycle, which we may have overrun.
    const bool missed =
        missedCycle(c) &&
        (wroteBefore || (c.pieceDue && static_cast<int32_t>(c.dueFrame - c.startFrame) < 0));
    driverLate_ = driverWasLate(c);
    sortNotices(c.notices);
    last_ = c;
    seenCycle_ = true;

    if (phase_ == Phase::None)
        return Answer::NotKnownYet;
    // The destination did not finish the cycle of a piece, or the one before
    // it: it read that piece late, after the next cycle's writes, or read it
    // twice. Whoever was late, the instrument or the listener.
    const bool unheard = unheardPiece_ || (wroteBefore && !c.listened);
    // A cycle run without us that held or followed a piece, or one that a
    // client overran, may have moved one of our pieces or lost it. One the
    // driver began late moved the whole graph together.
    if ((missed && !driverLate_) || lateClients_ != unitLateClients_ || unheard) {
        phase_ = Phase::None;
        return Answer::NotWhole;
    }
    if (phase_ == Phase::Settling && cycle_ - lastPieceCycle_ >= kSettleCycles) {
        phase_ = Phase::None;
        return Answer::Whole;
    }
    return Answer::NotKnownYet;
}

void JackCycleWatch::played(bool first, bool last)
{
    playedLastCycle_ = true;
    if (first) {
        phase_ = Phase::Playing;
        unitLateClients_ = lateClients_;
        unheardPiece_ = false;
    }
    if (!last_.listened)
        unheardPiece_ = true;
    if (last && phase_ == Phase::Playing) {
        phase_ = Phase::Settling;
        lastPieceCycle_ = cycle_;
    }
}
