#pragma once

#include <QString>
#include <functional>

// How the window tells the user that an action cannot go on.

// A modal critical box titled "Error" with an OK button and no parent window.
void showErrorBox(const QString &text);

// Runs one user action. An error raised by the MIDI layer ends the action, not
// the program: the user sees the error's own text in the "Error" box, and
// `cleanup` closes again whatever the action had opened. Returns false then.
bool runReportingMidiErrors(const std::function<void()> &action,
                            const std::function<void()> &cleanup = {});
