#pragma once

#include "child_process.h"

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// Wine inside the sequencer guest, as the cross-built Windows programs run
// there: the prefix made on the host (TARNWICK_WINE_PREFIX) unpacked into a
// scratch folder, one Wine server for every run, and the rig's own stalls
// over before the first run. Programs are copied into the scratch folder
// first: Wine faults when it starts one from the guest's 9p root.
class WineGuest
{
public:
    // The real-time (SCHED_FIFO) priority of the Wine server and of the runs.
    static constexpr int kPriority = 10;

    ~WineGuest();

    // Sets everything up in `folder` (the guest's tmpfs). Returns an empty
    // text, or what went wrong.
    QString start(const QString &folder);
    // Copies a program, or a folder with a program and its DLLs, into the
    // scratch folder; returns the copy's path (empty when it failed).
    QString copyIn(const QString &path) const;
    // Runs a Windows program (a path copyIn returned, or a Windows path) with
    // its arguments, its output into `logPath`. Realtime: at the Wine server's
    // priority, as Wine's stream player needs.
    bool run(ChildProcess &program, const QStringList &argv, const QString &logPath,
             bool realtime = true) const;

    // The stream driver of TARNWICK_WINE_DRIVER (copied in at start), on the
    // output device named like `device`, playing `steps`.
    bool runDriver(ChildProcess &driver, const QString &device, const QStringList &steps,
                   const QString &logPath) const;

    // The prefix's drive C: as a folder of the guest.
    QString driveC() const { return folder_ + "/prefix/drive_c"; }

private:
    QString folder_;
    QString driver_;
    bool serverStarted_ = false;
};
