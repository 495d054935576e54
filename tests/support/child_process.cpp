#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &logPath)
{
    if (argv.empty() || isRunning())
        return false;
    const int outFd = logPath.empty()
                          ? -1
                          : open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (!logPath.empty() && outFd < 0)
        return false;
    // Built before the fork: the test's other threads may hold the heap's lock.
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    status_ = -1;
    pid_ = fork();
    if (pid_ == 0) { // dies with the test, in a process group of its own
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setpgid(0, 0);
        if (outFd >= 0 && (dup2(outFd, STDOUT_FILENO) < 0 || dup2(outFd, STDERR_FILENO) < 0))
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (outFd >= 0)
        close(outFd);
    return pid_ > 0;
}

bool ChildProcess::waitForExit(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            status_ = r == pid_ ? status : -1;
            pid_ = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return true;
}

int ChildProcess::stop(int signal, int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, signal);
    if (!waitForExit(timeoutMs)) {
        kill(pid_, SIGKILL);
        waitForExit(5000);
    }
    return status_;
}

bool ChildProcess::isRunning()
{
    return pid_ > 0 && !waitForExit(0);
}
