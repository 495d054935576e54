#pragma once

#include <cstdint>

// The stream's timing rule, in whatever clock a backend counts (JACK frames,
// sequencer ticks): an event plays `delta` after the previous event of the
// stream, or at once when that moment has already passed. Times are 32-bit
// counters compared with wrap-around, as the platforms keep them.
class StreamSchedule
{
public:
    // When an event with this delta plays, if `now` is the earliest moment
    // it still can.
    uint32_t due(uint32_t now, uint32_t delta) const
    {
        if (!hasLast_)
            return now;
        const uint32_t due = last_ + delta;
        return static_cast<int32_t>(due - now) < 0 ? now : due;
    }
    void played(uint32_t at)
    {
        last_ = at;
        hasLast_ = true;
    }
    uint32_t last() const { return last_; }
    void reset() { hasLast_ = false; }

private:
    uint32_t last_ = 0;
    bool hasLast_ = false;
};
