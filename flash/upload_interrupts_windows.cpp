// The console control handler: Windows calls it on a thread of its own for
// Ctrl-C, Ctrl-Break and the console window closing. It posts the interrupt
// to the event loop that the upload's wait steps run. When the console
// closes, Windows ends the process as soon as the handler returns (or after
// about 5 s), so the handler waits, up to 4.5 s, for the upload to stop
// after the block being played.
#include "upload_interrupts.h"

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <windows.h>

namespace {

constexpr std::chrono::milliseconds kClosingWait{4500};

std::mutex currentMutex;
UploadInterrupts *current = nullptr;
QObject *currentContext = nullptr;

std::mutex overMutex;
std::condition_variable overChanged;
bool uploadOver = false;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    UploadInterrupts::Kind kind;
    switch (type) {
    case CTRL_C_EVENT:
        kind = UploadInterrupts::Kind::CtrlC;
        break;
    case CTRL_BREAK_EVENT:
        kind = UploadInterrupts::Kind::Terminate;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        kind = UploadInterrupts::Kind::Closing;
        break;
    default:
        return FALSE;
    }
    const long long ms = static_cast<long long>(GetTickCount64());
    {
        const std::lock_guard<std::mutex> lock(currentMutex);
        if (!current)
            return FALSE;
        UploadInterrupts *interrupts = current;
        QMetaObject::invokeMethod(
            currentContext, [interrupts, kind, ms] { interrupts->interrupted(kind, ms); },
            Qt::QueuedConnection);
    }
    if (kind == UploadInterrupts::Kind::Closing) {
        std::unique_lock<std::mutex> lock(overMutex);
        overChanged.wait_for(lock, kClosingWait, [] { return uploadOver; });
    }
    return TRUE;
}

} // namespace

struct UploadInterrupts::Platform
{
    // Interrupts posted to it are dropped once it is gone.
    QObject context;

    ~Platform()
    {
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
        {
            const std::lock_guard<std::mutex> lock(currentMutex);
            current = nullptr;
            currentContext = nullptr;
        }
        const std::lock_guard<std::mutex> lock(overMutex);
        uploadOver = true;
        overChanged.notify_all();
    }
};

void UploadInterrupts::PlatformEnd::operator()(Platform *platform) const
{
    delete platform;
}

UploadInterrupts::PlatformHandlers armUploadInterrupts(UploadInterrupts &interrupts)
{
    UploadInterrupts::PlatformHandlers platform(new UploadInterrupts::Platform);
    {
        const std::lock_guard<std::mutex> lock(currentMutex);
        current = &interrupts;
        currentContext = &platform->context;
    }
    {
        const std::lock_guard<std::mutex> lock(overMutex);
        uploadOver = false;
    }
    if (!SetConsoleCtrlHandler(onConsoleEvent, TRUE))
        return nullptr;
    return platform;
}
