#pragma once

#include "framing_error.h"

#include <cstddef>
#include <cstdint>

// One thing the instrument saw or did, handed from the process callback to the
// main thread through a lock-free ring buffer. Plain data of a fixed size.
struct SimReport
{
    enum Kind : unsigned char
    {
        Piece,          // a raw MIDI event: frame, size, a = 1 when it continued a message
        Message,        // a complete F0..F7 message: size
        VersionRequest, // a version request for this instrument
        Block,          // a valid data block: a = number, b = count, data
        Error,          // error, a and b give details (e.g. got/expected)
        Ignored,        // a message for another device id: a = id, b = command
        ReplySent,      // frame, a = ReplyKind
        Unplugged,      // the block limit was reached; the instrument goes away
    };

    Kind kind = Piece;
    FramingError error = FramingError::StrayBytes;
    std::uint32_t frame = 0;
    // The instrument's real time in microseconds (Piece, Block, ReplySent):
    // what a pause is measured in, as on a real instrument. A synchronous
    // server's frames stretch with its late cycles, so they are not.
    std::uint32_t micros = 0;
    std::uint32_t size = 0;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    unsigned char data[256] = {};
};

enum ReplyKind : unsigned char
{
    VersionReply,
    Acknowledgement,
    MalformedVersionReply,
    MalformedAcknowledgement,
};

// Receives reports; the JACK program's sink writes them into a ring buffer.
class SimSink
{
public:
    virtual ~SimSink() = default;
    virtual void report(const SimReport &report) = 0;
};
