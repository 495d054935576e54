#pragma once

#include "child_process.h"

#include <string>

// A private JACK server with the dummy backend, for tests that need real MIDI.
//
// Server names come from a small fixed set of slots (one per test running in
// parallel), each taken with a file lock: JACK's shared-memory registry keeps
// at most 8 server names, and a server that died uncleanly holds its name until
// a server of the same name starts again, so fresh names per run would run out.
//
// The server runs in synchronous mode: a client that is late under CPU load
// (two test processes on two cores) delays the cycle instead of losing the
// events it writes, so frame-time measurements stay exact.
//
// start() exports JACK_DEFAULT_SERVER so that every JACK client of the test
// process (RtMidi, our own ports) reaches this server. The server is stopped by
// PID in the destructor, and dies with the test process if that crashes.
class JackServer
{
public:
    explicit JackServer(unsigned periodFrames = 128, unsigned sampleRate = 48000);
    ~JackServer();
    JackServer(const JackServer &) = delete;
    JackServer &operator=(const JackServer &) = delete;

    // Starts the server and waits until it runs (at most timeoutMs).
    bool start(int timeoutMs = 5000);
    // Stops it with SIGTERM (or the given signal, SIGKILL to simulate a crash).
    void stop(int signal = 15);
    bool isRunning() { return process_.isRunning(); }

    const std::string &name() const { return name_; }
    pid_t pid() const { return process_.pid(); }
    unsigned sampleRate() const { return sampleRate_; }
    unsigned periodFrames() const { return periodFrames_; }
    // Where the server's output went (kept for a failing test's diagnosis).
    const std::string &logPath() const { return logPath_; }

    // Number of fixed server names (parallel test slots).
    static constexpr int kSlots = 4;

private:
    bool acquireSlot();

    unsigned periodFrames_;
    unsigned sampleRate_;
    int slotFd_ = -1;
    std::string name_;
    std::string logPath_;
    ChildProcess process_;
};

// Connects two JACK ports by full name ("client:port"); true on success.
bool jackConnect(const std::string &server, const std::string &from, const std::string &to);
// Full names of the server's ports, one per line as jack_lsp prints them.
std::string jackPorts(const std::string &server);
