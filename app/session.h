#pragma once

#include "midi.h"

#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QVector>
#include <chrono>

// A session with the instrument: the state that the actions share, how they
// wait for it and how the session ends. Nothing here touches a widget, so the
// window and a front end without one drive the same session.

// Process-wide, constructed before main() in this order and destroyed after it
// returns in the reverse order.
extern Midi midi;          // the MIDI input and output
extern QFile firmwareFile; // the chosen image, opened read-only

// Pauses the calling action for `milliseconds` (and at most about a tenth of a
// millisecond more) while the application keeps processing events (painting,
// clicks, timers, signals). Started while another wait step is running, it
// returns at once: the shared loop cannot run twice, and its timer later ends
// the outer step early.
void waitStep(int milliseconds);
// The same, to a moment fixed before: a pause that must not grow by what is
// done between fixing its end and waiting (a repaint, a log line).
using StepClock = std::chrono::steady_clock;
void waitStepUntil(StepClock::time_point end);

// A port of a supported instrument, as the MIDI layer lists it.
struct InstrumentPort
{
    unsigned int index; // in the numbering of its side (input or output)
    QString name;       // as the MIDI system shows it
    QString model;      // "Varnox" or "Solune"
};

// The supported instruments' ports of each side, in port index order. Read
// from the MIDI system on every call, so instruments attached or removed since
// the last call are seen. After the MIDI server stopped under the process,
// the ports are closed and the transport joins the server afresh first.
QVector<InstrumentPort> instrumentInputPorts();
QVector<InstrumentPort> instrumentOutputPorts();

// Opens input port `index` with every message type delivered (SysEx included)
// and the reply callback installed. Returns the log line for it.
QString openReplyInput(unsigned int index, const QString &portName);
// Opens output port `index` as the streaming port. Returns the log line for it.
QString openStreamOutput(unsigned int index, const QString &portName);

// Asks the instrument on the open output for its firmware version and polls
// for the reply before each of up to 200 wait steps of 5 ms. Returns the log
// line: the version it reported, or the fallback (then stored as 1.0.0).
QString queryFirmwareVersion();

// Closes the firmware file, detaches the reply callback before closing the
// input, and closes the output. Closing what is not open does nothing, so this
// serves both the end of an upload and the window's teardown.
void closeFileAndPorts();

// The text of a MIDI-layer error, as shown to the user and logged.
QString midiErrorText(const RtMidiError &error);
// For an open the platform refused, the log line naming the call that refused
// and its result ("MidiOutJack::openStreamPort: jack_port_register returned
// NULL"); empty for any other error.
QString openRefusalLogText(const RtMidiError &error);

// Whether the MIDI server stopped under this process since the ports were
// last listed, or the last try to join it afresh failed: nothing of it works
// until the next listing joins it afresh.
bool midiServerStopped();
