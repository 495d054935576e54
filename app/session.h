#pragma once

#include "midi.h"

#include <QEventLoop>
#include <QFile>
#include <QString>

// A session with the instrument: the state that the actions share, how they
// wait for it and how the session ends. Nothing here touches a widget, so the
// window and a front end without one drive the same session.

// Process-wide, constructed before main() in this order and destroyed after it
// returns in the reverse order.
extern Midi midi;                  // the MIDI input and output
extern QFile firmwareFile;         // the chosen image, opened read-only
extern QEventLoop sharedEventLoop; // run by every wait step

// Pauses the calling action for about `milliseconds` while the application
// keeps processing events (painting, clicks, timers, signals). Started while
// another wait step is running, it returns at once: the shared loop cannot run
// twice, and its timer later ends the outer step early.
void waitStep(int milliseconds);

// Closes the firmware file, detaches the reply callback before closing the
// input, and closes the output. Closing what is not open does nothing, so this
// serves both the end of an upload and the window's teardown.
void closeFileAndPorts();

// The text of a MIDI-layer error, as shown to the user and logged.
QString midiErrorText(const RtMidiError &error);
