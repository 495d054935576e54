// tarnwick-close-window TITLE [WAIT_S] [RUN_S]: on $DISPLAY, waits up to WAIT_S
// seconds (10) for the window titled TITLE, lets it run RUN_S seconds (2), then
// closes it as a window manager would. Exit 0 when the close was sent. Used to
// run the program for a moment where nobody can close it (no display, CI).
#include "x_window.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TITLE [WAIT_S] [RUN_S]\n", argv[0]);
        return 2;
    }
    const int waitS = argc > 2 ? std::atoi(argv[2]) : 10;
    const int runS = argc > 3 ? std::atoi(argv[3]) : 2;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "%s: cannot open display\n", argv[0]);
        return 1;
    }
    const unsigned long window = waitForWindow(display, argv[1], waitS * 1000);
    if (!window) {
        std::fprintf(stderr, "%s: no window titled \"%s\"\n", argv[0], argv[1]);
        XCloseDisplay(display);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(runS));
    const bool sent = requestClose(display, window);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
