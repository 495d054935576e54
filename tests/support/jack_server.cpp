#include "jack_server.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

JackServer::JackServer(unsigned periodFrames, unsigned sampleRate)
    : periodFrames_(periodFrames), sampleRate_(sampleRate)
{
}

JackServer::~JackServer()
{
    stop();
    if (slotFd_ >= 0)
        close(slotFd_); // releases the slot's lock
}

bool JackServer::acquireSlot()
{
    if (slotFd_ >= 0)
        return true;
    // Several test processes (and developers' parallel builds) may run at once;
    // wait a while for a free slot rather than fail at the first busy one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
        for (int slot = 0; slot < kSlots; ++slot) {
            const std::string lockPath =
                "/tmp/tarnwick-jack-slot-" + std::to_string(slot) + ".lock";
            const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0)
                continue;
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                slotFd_ = fd;
                name_ = "tarnwick-test-" + std::to_string(slot);
                logPath_ = "/tmp/tarnwick-jack-slot-" + std::to_string(slot) + ".log";
                return true;
            }
            close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool JackServer::start(int timeoutMs)
{
    if (!acquireSlot())
        return false;
    if (process_.isRunning())
        return true;
    const std::vector<std::string> argv = {"jackd",
                                           "--no-realtime",
                                           "--sync",
                                           "-n",
                                           name_,
                                           "-d",
                                           "dummy",
                                           "-r",
                                           std::to_string(sampleRate_),
                                           "-p",
                                           std::to_string(periodFrames_)};
    if (!process_.start(argv, logPath_))
        return false;
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);

    // jack_wait always exits 0; it prints "running" once the server answers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!process_.isRunning())
            return false;
        const std::string out = runAndCapture({"jack_wait", "-s", name_, "-c"}, 2000);
        // It prints "not running" until then, so look for the whole line.
        if (out.rfind("running", 0) == 0 || out.find("\nrunning") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    return false;
}

void JackServer::stop(int signal)
{
    process_.stop(signal, 2000);
}

bool jackConnect(const std::string &server, const std::string &from, const std::string &to)
{
    runAndCapture({"jack_connect", "-s", server, from, to}, 3000);
    const std::string ports = runAndCapture({"jack_lsp", "-s", server, "-c", from}, 3000);
    return ports.find(to) != std::string::npos;
}

std::string jackPorts(const std::string &server)
{
    return runAndCapture({"jack_lsp", "-s", server}, 3000);
}
