#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A program started by a test. It is killed when the test process dies, so a
// crashed or failed test never leaves a server or a simulator behind.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts argv[0] (looked up in PATH); stdout and stderr go to logPath
    // when it is not empty.
    bool start(const std::vector<std::string> &argv, const std::string &logPath = {});

    // Sends the signal and waits up to timeoutMs for the exit; SIGKILL after that.
    // Returns the exit status as from waitpid, or -1 when nothing was running.
    int stop(int signal = 15, int timeoutMs = 2000);

    // Waits up to timeoutMs for the process to end on its own; true when it did.
    bool waitForExit(int timeoutMs);

    bool isRunning();
    pid_t pid() const { return pid_; }
    // waitpid status of the ended process (valid after stop() or waitForExit()).
    int exitStatus() const { return status_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};
