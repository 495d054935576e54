#include "upload_interrupts.h"

#include "firmware_transfer.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr long long kSecondSignalWithinMs = 2000;

struct SignalEvent
{
    int signal;
    long long monotonicMs; // when it came, not when the event loop got to it
};

// The pipe's write end, for the handler.
volatile sig_atomic_t writeEnd = -1;

long long monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

extern "C" void onSignal(int signal)
{
    const int savedErrno = errno;
    const SignalEvent event{signal, monotonicMs()};
    // Smaller than PIPE_BUF, so written whole or not at all.
    if (write(writeEnd, &event, sizeof event) < 0) {
        // A full pipe drops the event: a dozen signals are already waiting.
    }
    errno = savedErrno;
}

} // namespace

UploadInterrupts::UploadInterrupts(FirmwareTransfer &transfer, TransferObserver &observer)
    : transfer_(transfer), observer_(observer)
{
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = pipe_[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted waits go on: the stream port's waits retry on EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readSignals(); });
}

UploadInterrupts::~UploadInterrupts()
{
    if (!armed())
        return;
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
    notifier_.reset();
    writeEnd = -1;
    close(pipe_[0]);
    close(pipe_[1]);
}

void UploadInterrupts::readSignals()
{
    SignalEvent event{};
    while (read(pipe_[0], &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (cancelled_)
            continue;
        const bool stop = event.signal == SIGINT && lastSignalMs_ >= 0 &&
                          event.monotonicMs - lastSignalMs_ <= kSecondSignalWithinMs;
        lastSignalMs_ = event.monotonicMs;
        if (stop) {
            cancelled_ = true;
            transfer_.requestCancel();
        } else {
            observer_.log(pleaseWaitText());
        }
    }
}
