#include "x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool titleIs(Display *display, Window window, const std::string &title)
{
    XTextProperty property;
    if (!XGetWMName(display, window, &property) || !property.value)
        return false;
    const std::string name(reinterpret_cast<const char *>(property.value), property.nitems);
    XFree(property.value);
    return name == title;
}

Window findMapped(Display *display, Window parent, const std::string &title)
{
    Window root = 0, parentOut = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable && titleIs(display, children[i], title))
            found = children[i];
        else
            found = findMapped(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace

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
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline && server_.isRunning()) {
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (Window window = findMapped(display_, DefaultRootWindow(display_), title))
            return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return 0;
}

bool XDisplay::windowSize(unsigned long window, int *width, int *height)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes))
        return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool XDisplay::requestClose(unsigned long window)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display_, window, False, NoEventMask, &event) != 0;
    XFlush(display_);
    return sent;
}
