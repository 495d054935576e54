#include "session.h"

#include "port_names.h"

#include <QTimer>

// One translation unit fixes the construction order (and so the reverse
// destruction order at exit). The event loop is created before the application
// object: Qt warns about that once, but the loop only ever runs inside an
// action, by which time the application has set up the thread's event
// dispatcher. The transport takes the MIDI API on which an instrument is to be
// found.
Midi midi(Midi::chooseApi(isInstrumentPortName));
QFile firmwareFile;
QEventLoop sharedEventLoop;

void waitStep(int milliseconds)
{
    QTimer::singleShot(milliseconds, &sharedEventLoop, SLOT(quit()));
    sharedEventLoop.exec(QEventLoop::AllEvents);
}

void closeFileAndPorts()
{
    firmwareFile.close();
    // Without a callback RtMidi only warns on standard error; the rest goes on.
    midi.midiIn.cancelCallback();
    midi.midiIn.closePort();
    midi.midiOut.closePort();
}

QString midiErrorText(const RtMidiError &error)
{
    return QString::fromStdString(error.getMessage()).trimmed();
}
