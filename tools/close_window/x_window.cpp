#include "x_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>

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

unsigned long waitForWindow(Display *display, const std::string &title, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (Window window = findMapped(display, DefaultRootWindow(display), title))
            return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return 0;
}

bool windowSize(Display *display, unsigned long window, int *width, int *height)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes))
        return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
}

bool requestClose(Display *display, unsigned long window)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
    XFlush(display);
    return sent;
}
