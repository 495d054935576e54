#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <memory>

class FirmwareTransfer;
class TransferObserver;

// SIGINT and SIGTERM while an upload runs, held for as long as this object
// lives. A block is never cut in half, and an instrument left with part of an
// image must not lose its updater by accident: the first signal is answered
// with the window's "Please wait until the update has finished." and the
// upload goes on; a SIGINT within 2 s of the signal before it asks the
// transfer to stop after the block being played.
//
// The handler only writes the signal and its time to a pipe (async-signal-
// safe); the upload's wait steps run the event loop, which reads it.
class UploadInterrupts
{
public:
    UploadInterrupts(FirmwareTransfer &transfer, TransferObserver &observer);
    // The handlers from before again.
    ~UploadInterrupts();
    UploadInterrupts(const UploadInterrupts &) = delete;
    UploadInterrupts &operator=(const UploadInterrupts &) = delete;

    // Whether the pipe and the handlers are in place.
    bool armed() const { return notifier_ != nullptr; }

private:
    void readSignals();

    FirmwareTransfer &transfer_;
    TransferObserver &observer_;
    int pipe_[2] = {-1, -1};
    struct sigaction previousInt_ = {}, previousTerm_ = {};
    std::unique_ptr<QSocketNotifier> notifier_;
    long long lastSignalMs_ = -1;
    bool cancelled_ = false;
};
