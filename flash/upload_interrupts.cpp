#include "upload_interrupts.h"

#include "firmware_transfer.h"

namespace {

constexpr long long kSecondCtrlCWithinMs = 2000;

} // namespace

UploadInterrupts::UploadInterrupts(FirmwareTransfer &transfer, TransferObserver &observer)
    : transfer_(transfer), observer_(observer)
{
    platform_ = armUploadInterrupts(*this);
}

UploadInterrupts::~UploadInterrupts() = default;

void UploadInterrupts::interrupted(Kind kind, long long monotonicMs)
{
    if (cancelled_)
        return;
    const bool secondCtrlC = kind == Kind::CtrlC && lastInterruptMs_ >= 0 &&
                             monotonicMs - lastInterruptMs_ <= kSecondCtrlCWithinMs;
    lastInterruptMs_ = monotonicMs;
    if (!secondCtrlC)
        observer_.log(pleaseWaitText());
    if (secondCtrlC || kind == Kind::Closing) {
        cancelled_ = true;
        transfer_.requestCancel();
    }
}
