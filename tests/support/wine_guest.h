#pragma once

#include "child_process.h"

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// Wine inside the sequencer guest, as the cross-built Windows stream driver
// (tools/winmm_stream_driver.cpp) runs there: the prefix made on the host
// (TARNWICK_WINE_PREFIX) and the driver (TARNWICK_WINE_DRIVER) copied into a
// scratch folder, one Wine server for every run, and the rig's own stalls
// over before the first run.
class WineGuest
{
public:
    ~WineGuest();

    // Sets everything up in `folder` (the guest's tmpfs). Returns an empty
    // text, or what went wrong.
    QString start(const QString &folder);
    // Runs the driver on the output device named like `device`, playing
    // `steps`, its output into `logPath`.
    bool runDriver(ChildProcess &driver, const QString &device, const QStringList &steps,
                   const QString &logPath) const;

private:
    std::string driver_;
    bool serverStarted_ = false;
};
