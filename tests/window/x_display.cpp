#include "x_display.h"

#include "x_window.h"

#include <X11/Xlib.h>

#include <chrono>
#include <thread>
#include <unistd.h>

XDisplay::~XDisplay()
{
    if (display_)
        XCloseDisplay(display_);
    server_.stop();
}

bool XDisplay::start()
{
    // Away from the numbers people and xvfb-run usually take.
    for (int number = 140 + getpid() % 40; number < 240; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (access(lock.c_str(), F_OK) == 0)
            continue;
        name_ = ":" + std::to_string(number);
        if (!server_.start({"Xvfb", name_, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                           "/tmp/tarnwick-xvfb" + std::to_string(number) + ".log"))
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline && server_.isRunning()) {
            display_ = XOpenDisplay(name_.c_str());
            if (display_)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        server_.stop(); // lost the number to someone else: try the next
    }
    return false;
}

unsigned long XDisplay::waitForWindow(const std::string &title, int timeoutMs)
{
    return ::waitForWindow(display_, title, timeoutMs);
}

bool XDisplay::windowSize(unsigned long window, int *width, int *height)
{
    return ::windowSize(display_, window, width, height);
}

bool XDisplay::requestClose(unsigned long window)
{
    return ::requestClose(display_, window);
}
