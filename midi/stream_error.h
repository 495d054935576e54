#pragma once

#include <RtMidi.h>

#include <string>
#include <utility>

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

// An open the platform refused (OpenRefused). The user is shown the problem's
// own text; the log also gets the call that refused and its result, for a
// bug report: "<backendClass>::openStreamPort: jack_activate returned -1".
class StreamOpenRefused : public RtMidiError
{
public:
    StreamOpenRefused(const std::string &message, std::string logLine)
        : RtMidiError(message, RtMidiError::DRIVER_ERROR), logLine_(std::move(logLine))
    {
    }
    const std::string &logLine() const { return logLine_; }

private:
    std::string logLine_;
};

// The refusal's log line when `error` is a refused open, otherwise empty.
std::string openRefusalLogLine(const RtMidiError &error);

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
// OpenRefused, naming the platform call that refused and what it returned
// ("jack_port_register returned NULL").
[[noreturn]] void failOpenRefused(const char *backendClass, const std::string &callAndResult);
