#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <sys/types.h>
#include <thread>

class WindowDriver;

// The moments at which the fault tests kill a process (the simulator or the
// JACK server) while the window works.
enum class FaultPoint
{
    VersionQuery,  // while "Open" polls for the version reply
    BeforeAck,     // block 1 played, the upload polling for its acknowledgement
    MidUnit,       // while a data block message is being played out
    BetweenBlocks, // in the pause that follows a middle block
};

const char *faultPointName(FaultPoint point);

// Images used for the upload fault points: 20 blocks, so the progress bar
// shows 5 x k before block k is sent and the fault block is well inside.
constexpr unsigned kFaultImageBlocks = 20;
constexpr unsigned kFaultBlock = 4;

// Sends SIGKILL to victim at the given point of the action that the test starts
// right after constructing this. The progress bar's change before a block is
// the hook for the upload points: a zero timer armed there fires in the first
// wait step after that block has been played (the pause between blocks, or
// the acknowledgement poll for block 1); a thread sleeping 50 ms from there
// lands inside the roughly 100 ms that the block's 11 pieces take.
class FaultTrigger : public QObject
{
    Q_OBJECT

public:
    FaultTrigger(WindowDriver &driver, FaultPoint point, pid_t victim);
    ~FaultTrigger() override;

    bool fired() const { return firedAt_.load() != 0; }
    // Milliseconds from the kill to now (call it when the action has ended).
    qint64 msSinceFault() const;

private:
    void kill();

    pid_t victim_;
    std::thread killer_;
    std::atomic<std::chrono::steady_clock::rep> firedAt_{0};
};

// Presses "Open". When point is the version query, kills victim during it and
// checks that the query, which cannot tell a dead instrument from a silent
// one, ends in the fallback within 1.5 s of the kill; otherwise checks that
// Open logged its three lines. Failures are recorded on the running test.
void openWithFaultAt(WindowDriver &driver, int point, pid_t victim);
