#pragma once

#include "child_process.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>

// The simulated instrument (tarnwick-sim) run as a child of the test, on the
// JACK server the test started (JACK_DEFAULT_SERVER is inherited).
//
// start() adds --summary and --image in a private temporary folder and waits for the "READY <client
// name>" line. stop() ends it with SIGTERM, after which summary() holds everything it saw.
class Simulator
{
public:
    Simulator();
    ~Simulator() { stop(); }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // True once the simulator has printed READY (at most timeoutMs).
    bool start(const QStringList &args = {}, int timeoutMs = 5000);
    // SIGTERM and wait; returns the waitpid status (-1 when not running).
    // Beside two busy loops its leaving the server once took over 3 s.
    int stop(int timeoutMs = 10000) { return process_.stop(SIGTERM, timeoutMs); }
    // SIGKILL: an instrument that vanishes without a summary.
    void kill() { process_.stop(SIGKILL, 2000); }
    // Waits for the simulator to exit by itself (e.g. --exit-after-block).
    bool waitForExit(int timeoutMs) { return process_.waitForExit(timeoutMs); }
    bool isRunning() { return process_.isRunning(); }
    int exitStatus() const { return process_.exitStatus(); }
    pid_t pid() const { return process_.pid(); }

    // The last summary written (empty object when none could be read).
    QJsonObject summary() const;

    QString summaryPath() const { return summaryPath_; }
    QString imagePath() const { return imagePath_; }
    // JACK client name and its ports as RtMidi and jack_connect name them.
    QString clientName() const { return clientName_; }
    QString inPort() const { return clientName_ + ":in"; }
    // Everything the simulator printed (stdout and stderr).
    QString log() const;

private:
    QTemporaryDir dir_;
    QString summaryPath_;
    QString imagePath_;
    QString logPath_;
    QString clientName_;
    ChildProcess process_;
};
