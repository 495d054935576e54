#pragma once

#include "jack_cycle_watch.h"

#include <jack/jack.h>
#include <jack/statistics.h>

// What a process callback reads for the cycle watch, at the start of its cycle:
// JACK's real-time-safe time and statistics functions only; it clears the
// server's largest xrun delay once it has seen it. `notices` is the count of xrun
// notices the client's xrun callback has received so far.
inline JackCycleWatch::Cycle readCycle(jack_client_t *client, jack_nframes_t nframes,
                                       uint32_t notices)
{
    JackCycleWatch::Cycle c;
    c.startFrame = jack_last_frame_time(client);
    c.frames = nframes;
    c.delayUsecs = jack_get_xrun_delayed_usecs(client);
    // The delay figure misses an xrun that took as long as the one before it
    // (on the dummy driver often: both a few tens of microseconds). The
    // largest delay, kept until a client clears it, marks every one.
    c.driverXrun = jack_get_max_delayed_usecs(client) > 0.0f;
    if (c.driverXrun)
        jack_reset_max_delayed_usecs(client);
    jack_nframes_t frames = 0;
    jack_time_t start = 0, next = 0;
    float period = 0;
    if (jack_get_cycle_times(client, &frames, &start, &next, &period) == 0) {
        c.startUsecs = start;
        c.periodUsecs = period;
    }
    c.notices = notices;
    return c;
}
