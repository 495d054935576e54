#pragma once

#include "child_process.h"
#include "jack_server.h"

// The JACK server for the fault tests. By default the shared fixture's server,
// which runs in synchronous mode: there a client that dies without closing
// stops every cycle for seconds, so the stalls measured are the server's.
// With TARNWICK_FAULTS_ASYNC_JACK=1 the same server name is served by an
// ordinary asynchronous jackd instead, as most users run it, so the figures
// show the tool's own reaction. The fixture keeps its slot either way.
class FaultServer
{
public:
    bool start();
    bool asynchronous() const { return async_.pid() > 0; }
    const std::string &name() const { return fixture_.name(); }

private:
    JackServer fixture_;
    ChildProcess async_;
};
