#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// In the child after fork: die with the parent, then exec.
[[noreturn]] void execChild(const std::vector<std::string> &argv, int outFd)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    setpgid(0, 0);
    if (outFd >= 0) {
        dup2(outFd, STDOUT_FILENO);
        dup2(outFd, STDERR_FILENO);
        close(outFd);
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

} // namespace

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const std::vector<std::string> &argv, const std::string &logPath)
{
    if (argv.empty() || isRunning())
        return false;
    int outFd = -1;
    if (!logPath.empty()) {
        outFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (outFd < 0)
            return false;
    }
    status_ = -1;
    pid_ = fork();
    if (pid_ == 0)
        execChild(argv, outFd);
    if (outFd >= 0)
        close(outFd);
    return pid_ > 0;
}

bool ChildProcess::waitForExit(int timeoutMs)
{
    if (pid_ <= 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            status_ = (r == pid_) ? status : -1;
            pid_ = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
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
