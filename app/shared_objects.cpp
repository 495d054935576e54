#include "shared_objects.h"

// One translation unit fixes the construction order (and so the reverse
// destruction order at exit). The event loop is created before QApplication:
// Qt warns about that once, but the loop is only ever run from the window's
// slots, by which time the application has set up the thread's event dispatcher.
Midi midi;
QFile firmwareFile;
QEventLoop sharedEventLoop;
