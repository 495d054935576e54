#pragma once

#include "midi.h"

#include <QEventLoop>
#include <QFile>

// State the window's actions share, process-wide. Constructed before main() in
// this order and destroyed after it returns in the reverse order.
extern Midi midi;                  // the MIDI input and output
extern QFile firmwareFile;         // the chosen image, opened read-only by "Open FW"
extern QEventLoop sharedEventLoop; // run by every wait step
