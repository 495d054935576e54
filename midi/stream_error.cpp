#include "stream_error.h"

#include <iostream>

namespace {

struct ProblemText
{
    RtMidiError::Type type;
    const char *operation;
    const char *before; // text before the number (or the whole text)
    const char *after;  // text after the number; null when there is none
};

ProblemText textOf(StreamProblem problem)
{
    switch (problem) {
    case StreamProblem::AlreadyOpen:
        return {RtMidiError::WARNING, "openStreamPort", "a valid connection already exists!",
                nullptr};
    case StreamProblem::NoDestinations:
        return {RtMidiError::NO_DEVICES_FOUND, "openStreamPort",
                "no MIDI output destinations found!", nullptr};
    case StreamProblem::InvalidPort:
        return {RtMidiError::INVALID_PARAMETER, "openStreamPort", "the 'portNumber' argument (",
                ") is invalid."};
    case StreamProblem::NoCompletionEvent:
        return {RtMidiError::NO_DEVICES_FOUND, "openStreamPort", "can't creat an event!", nullptr};
    case StreamProblem::OpenRefused: // the platform's own name goes between the two
        return {RtMidiError::DRIVER_ERROR, "openStreamPort", "error creating ",
                " MIDI streaming output port."};
    case StreamProblem::NoStreamService:
        return {RtMidiError::DRIVER_ERROR, "openStreamPort",
                "this MIDI API has no streaming output service.", nullptr};
    case StreamProblem::EmptyUnit:
        return {RtMidiError::WARNING, "sendMessage", "message argument is empty!", nullptr};
    case StreamProblem::InvalidSize:
        return {RtMidiError::INVALID_PARAMETER, "sendStream", "the 'size' argument (",
                ") is invalid: a unit is 4 or 524 bytes; nothing was sent."};
    case StreamProblem::PrepareRefused:
        return {RtMidiError::DRIVER_ERROR, "sendStream", "error preparing sysex header.", nullptr};
    case StreamProblem::EventRefused:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "the MIDI service refused an event; the unit was not played.", nullptr};
    case StreamProblem::DestinationGone:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "the MIDI destination is gone; the unit was not played.", nullptr};
    case StreamProblem::ServiceGone:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "the MIDI service has stopped; the unit was not played.", nullptr};
    case StreamProblem::NotPlayedInTime:
        return {RtMidiError::DRIVER_ERROR, "sendStream", "the unit was not reported played within ",
                " ms; it may not have been played."};
    case StreamProblem::StillPlaying:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "the MIDI service kept the buffer playing for more than 2 s.", nullptr};
    case StreamProblem::PreviousUnitHeld:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "the MIDI service still holds the previous unit; nothing was sent.", nullptr};
    case StreamProblem::MissedCycle:
        return {RtMidiError::DRIVER_ERROR, "sendStream",
                "a MIDI cycle was missed; the unit was not played whole.", nullptr};
    // Found while the port waited between units, not by a send.
    case StreamProblem::ServiceStopped:
        return {RtMidiError::DRIVER_ERROR, "checkStream", "the MIDI service has stopped.", nullptr};
    case StreamProblem::DestinationLost:
        return {RtMidiError::DRIVER_ERROR, "checkStream", "the MIDI destination is gone.", nullptr};
    }
    return {RtMidiError::UNSPECIFIED, "sendStream", "unknown problem.", nullptr};
}

// The MIDI service a backend class stands on, as its users know it.
std::string platformNameOf(const std::string &backendClass)
{
    if (backendClass == "MidiOutWinMM")
        return "Windows MM";
    if (backendClass == "MidiOutJack")
        return "JACK";
    if (backendClass == "MidiOutAlsa")
        return "ALSA sequencer";
    return "MIDI";
}

} // namespace

RtMidiError::Type streamProblemType(StreamProblem problem)
{
    return textOf(problem).type;
}

std::string streamProblemMessage(const char *backendClass, StreamProblem problem,
                                 unsigned long long number)
{
    const ProblemText t = textOf(problem);
    std::string message = std::string(backendClass) + "::" + t.operation + ": " + t.before;
    if (problem == StreamProblem::OpenRefused) {
        message += platformNameOf(backendClass);
        message += t.after;
    } else if (t.after) {
        message += std::to_string(number);
        message += t.after;
    }
    return message;
}

void failStreamProblem(const char *backendClass, StreamProblem problem, unsigned long long number)
{
    throw RtMidiError(streamProblemMessage(backendClass, problem, number),
                      streamProblemType(problem));
}

void failOpenRefused(const char *backendClass, const std::string &callAndResult)
{
    throw StreamOpenRefused(streamProblemMessage(backendClass, StreamProblem::OpenRefused),
                            std::string(backendClass) + "::openStreamPort: " + callAndResult);
}

std::string openRefusalLogLine(const RtMidiError &error)
{
    const auto *refused = dynamic_cast<const StreamOpenRefused *>(&error);
    return refused ? refused->logLine() : std::string();
}

void warnStreamProblem(const char *backendClass, StreamProblem problem)
{
    std::cerr << '\n' << streamProblemMessage(backendClass, problem) << "\n\n";
}
