#include "shared_objects.h"

#include "port_names.h"

// One translation unit fixes the construction order (and so the reverse
// destruction order at exit). The event loop is created before QApplication:
// Qt warns about that once, but the loop is only ever run from the window's
// slots, by which time the application has set up the thread's event dispatcher.
// The transport takes the MIDI API on which an instrument is to be found.
Midi midi(Midi::chooseApi(isInstrumentPortName));
QFile firmwareFile;
QEventLoop sharedEventLoop;
