#pragma once

// What can be wrong with the bytes the instrument receives. Codes travel from
// the process callback to the main thread, which turns them into texts.
enum class FramingError : unsigned char
{
    StrayBytes,         // bytes outside any message
    StartInsideMessage, // F0 before the F7 of the message before it
    MessageTooLong,     // no F7 within the longest message (521 bytes)
    TooShort,           // F0 F7 or F0 id F7
    ByteAbove7F,        // a byte between F0 and F7 at or above 0x80
    UnknownCommand,
    BadLength,   // known command, wrong length
    BadConstant, // offset 7 of a data block is not 0x01
    BadPair,     // top-bit byte of a pair is neither 0 nor 1
    BlockNumberZero,
    BlockBeyondCount,
    OutOfSequence,
    CountChanged,
    PaddingNotZero,
    PaddingMissing, // a data block's F7 not followed by three zero bytes
};

// Short fixed text for a code (no allocation).
const char *framingErrorText(FramingError error);
