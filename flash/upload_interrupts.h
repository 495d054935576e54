#pragma once

#include <memory>

class FirmwareTransfer;
class TransferObserver;

// Ctrl-C and its kin while an upload runs, held for as long as this object
// lives. A block is never cut in half, and an instrument left with part of an
// image must not lose its updater by accident: the first interrupt is
// answered with the window's "Please wait until the update has finished." and
// the upload goes on; a Ctrl-C within 2 s of the interrupt before it asks the
// transfer to stop after the block being played.
//
// How an interrupt arrives is the platform's (upload_interrupts_posix.cpp:
// SIGINT and SIGTERM through a pipe; upload_interrupts_windows.cpp: the
// console control handler); what it does is decided here, on the thread of
// the event loop that the upload's wait steps run.
class UploadInterrupts
{
public:
    enum class Kind
    {
        CtrlC,     // SIGINT, CTRL_C_EVENT: a second one within 2 s stops
        Terminate, // SIGTERM, CTRL_BREAK_EVENT: answered, never stops
        Closing    // the console window closes: the platform ends the process
                   // within seconds whatever we do, so stop after this block
    };

    UploadInterrupts(FirmwareTransfer &transfer, TransferObserver &observer);
    // The handlers from before again.
    ~UploadInterrupts();
    UploadInterrupts(const UploadInterrupts &) = delete;
    UploadInterrupts &operator=(const UploadInterrupts &) = delete;

    // Whether the handlers are in place.
    bool armed() const { return platform_ != nullptr; }

    // An interrupt that came at `monotonicMs` (the platform's clock, when it
    // came, not when the event loop got to it).
    void interrupted(Kind kind, long long monotonicMs);

    // The platform's handlers, defined and ended in its own file.
    struct Platform;
    struct PlatformEnd
    {
        void operator()(Platform *platform) const;
    };
    using PlatformHandlers = std::unique_ptr<Platform, PlatformEnd>;

private:
    FirmwareTransfer &transfer_;
    TransferObserver &observer_;
    PlatformHandlers platform_;
    long long lastInterruptMs_ = -1;
    bool cancelled_ = false;
};

// The platform's part: puts the handlers in place (null where it cannot) and
// takes them away again when the returned object goes.
UploadInterrupts::PlatformHandlers armUploadInterrupts(UploadInterrupts &interrupts);
