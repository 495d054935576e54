#pragma once

#include <RtMidi.h>

#include <string>

// The problems the streaming port reports. Each has a fixed RtMidi error
// type, operation and text; the backends differ only in the class name that
// starts the message.
enum class StreamProblem
{
    AlreadyOpen,
    NoDestinations,
    InvalidPort,
    NoCompletionEvent,
    OpenRefused,
    NoStreamService,
    EmptyUnit,
    InvalidSize,
    PrepareRefused,
    EventRefused,
    DestinationGone,
    ServiceGone,
    NotPlayedInTime,
    StillPlaying,
    PreviousUnitHeld,
    MissedCycle,
    ServiceStopped,
    DestinationLost,
};

RtMidiError::Type streamProblemType(StreamProblem problem);

// "<backendClass>::<operation>: <text>", with `number` where the text has one.
std::string streamProblemMessage(const char *backendClass, StreamProblem problem,
                                 unsigned long long number = 0);

// The two ways the port reports a problem. A failure is thrown as RtMidiError
// and printed nowhere: whoever catches it shows its text (the window's box or
// log, tarnwick-flash's output), and a copy on standard error printed it twice
// to a terminal. Callers that go on after a failure would read or write past a
// checked bound, so it cannot return. A warning, which nobody catches, goes to
// standard error as RtMidi's own do, and the operation returns.
[[noreturn]] void failStreamProblem(const char *backendClass, StreamProblem problem,
                                    unsigned long long number = 0);
// For the problems whose type is WARNING: the operation returns doing nothing.
void warnStreamProblem(const char *backendClass, StreamProblem problem);
