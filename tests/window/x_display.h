#pragma once

#include "child_process.h"

#include <string>

typedef struct _XDisplay Display;

// A private Xvfb display, and what a window manager would do to a window on
// it: find it by title and ask it to close (WM_DELETE_WINDOW), as the title
// bar's close button does.
class XDisplay
{
public:
    XDisplay() = default;
    ~XDisplay();
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    // Starts Xvfb on the first free display number; true once it accepts clients.
    bool start();
    // ":N", for DISPLAY.
    const std::string &name() const { return name_; }

    // Waits up to timeoutMs for a mapped top-level window with this title; 0 if none.
    unsigned long waitForWindow(const std::string &title, int timeoutMs);
    // Size of a window as the X server sees it.
    bool windowSize(unsigned long window, int *width, int *height);
    // Sends the window manager's close request.
    bool requestClose(unsigned long window);

private:
    ChildProcess server_;
    std::string name_;
    Display *display_ = nullptr;
};
