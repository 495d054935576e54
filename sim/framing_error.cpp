#include "framing_error.h"

const char *framingErrorText(FramingError error)
{
    switch (error) {
    case FramingError::StrayBytes:
        return "stray bytes outside a message";
    case FramingError::StartInsideMessage:
        return "F0 inside a message";
    case FramingError::MessageTooLong:
        return "message too long";
    case FramingError::TooShort:
        return "message too short";
    case FramingError::ByteAbove7F:
        return "byte above 0x7F";
    case FramingError::UnknownCommand:
        return "unknown command";
    case FramingError::BadLength:
        return "wrong length for command";
    case FramingError::BadConstant:
        return "offset 7 not 0x01";
    case FramingError::BadPair:
        return "pair top bit not 0 or 1";
    case FramingError::BlockNumberZero:
        return "block number 0";
    case FramingError::BlockBeyondCount:
        return "block number above count";
    case FramingError::OutOfSequence:
        return "block out of sequence";
    case FramingError::CountChanged:
        return "block count changed";
    case FramingError::PaddingNotZero:
        return "padding byte not zero";
    case FramingError::PaddingMissing:
        return "padding missing";
    }
    return "unknown error";
}
