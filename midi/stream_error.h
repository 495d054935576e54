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

// The one place where the port reports a problem, following RtMidi's own
// convention: the message goes to standard error; a warning then returns,
// anything else is thrown as RtMidiError.
void reportStreamProblem(const char *backendClass, StreamProblem problem,
                         unsigned long long number = 0);
