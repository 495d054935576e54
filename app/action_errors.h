#pragma once

#include <RtMidi.h>

#include <QString>
#include <functional>

// Runs one user action. An error raised by the MIDI layer ends the action, not
// the program: the user sees the error's own text in the "Error" box, and
// `cleanup` closes again whatever the action had opened. Returns false then.
bool runReportingMidiErrors(const std::function<void()> &action,
                            const std::function<void()> &cleanup = {});

// The text of a MIDI-layer error, as shown to the user and logged.
QString midiErrorText(const RtMidiError &error);
