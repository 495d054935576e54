// SIGINT and SIGTERM: the handler only writes the signal and its time to a
// pipe (async-signal-safe); a notifier on the pipe hands them to the event
// loop that the upload's wait steps run.
#include "upload_interrupts.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct SignalEvent
{
    int signal;
    long long monotonicMs;
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

struct UploadInterrupts::Platform
{
    int pipe[2] = {-1, -1};
    struct sigaction previousInt = {}, previousTerm = {};
    std::unique_ptr<QSocketNotifier> notifier;

    ~Platform()
    {
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
        notifier.reset();
        writeEnd = -1;
        close(pipe[0]);
        close(pipe[1]);
    }
};

void UploadInterrupts::PlatformEnd::operator()(Platform *platform) const
{
    delete platform;
}

UploadInterrupts::PlatformHandlers armUploadInterrupts(UploadInterrupts &interrupts)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    UploadInterrupts::PlatformHandlers platform(new UploadInterrupts::Platform);
    platform->pipe[0] = fds[0];
    platform->pipe[1] = fds[1];
    writeEnd = fds[1];
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted waits go on: the stream port's waits retry on EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &platform->previousInt);
    sigaction(SIGTERM, &action, &platform->previousTerm);
    platform->notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    const int readEnd = fds[0];
    QObject::connect(platform->notifier.get(), &QSocketNotifier::activated, [&interrupts, readEnd] {
        SignalEvent event{};
        while (read(readEnd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
            interrupts.interrupted(event.signal == SIGINT ? UploadInterrupts::Kind::CtrlC
                                                          : UploadInterrupts::Kind::Terminate,
                                   event.monotonicMs);
        }
    });
    return platform;
}
