#include "fault_server.h"

#include <QtGlobal>

#include <chrono>
#include <thread>

bool FaultServer::start()
{
    if (!fixture_.start())
        return false;
    if (qEnvironmentVariableIntValue("TARNWICK_FAULTS_ASYNC_JACK") != 1)
        return true;
    fixture_.stop();
    if (!async_.start({"jackd", "--no-realtime", "-n", fixture_.name(), "-d", "dummy", "-r",
                       "48000", "-p", "128"},
                      fixture_.logPath()))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && async_.isRunning()) {
        const std::string out = runAndCapture({"jack_wait", "-s", fixture_.name(), "-c"}, 2000);
        if (out.rfind("running", 0) == 0 || out.find("\nrunning") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
