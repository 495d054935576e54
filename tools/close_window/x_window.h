#pragma once

#include <string>

typedef struct _XDisplay Display;

// What a window manager does to a top-level window, for tests and for the
// no-display run: find it by title, read its size, ask it to close.

// Waits up to timeoutMs for a mapped window with this title; 0 if none came.
unsigned long waitForWindow(Display *display, const std::string &title, int timeoutMs);
// Size of a window as the X server sees it.
bool windowSize(Display *display, unsigned long window, int *width, int *height);
// Sends WM_DELETE_WINDOW, the request the title bar's close button makes.
bool requestClose(Display *display, unsigned long window);
