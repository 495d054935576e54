#pragma once

#include "framing_error.h"

#include <cstddef>

// Checks one reassembled data block message (F0 .. F7, 521 bytes, device id
// already matched) and decodes its 256 pairs. Keeps the sequence of an upload:
// block 1 starts a new upload and fixes the count; each later block must be the
// next number with the same count.
class DataBlockCheck
{
public:
    struct Result
    {
        bool ok = false;
        FramingError error = FramingError::BadLength;
        unsigned number = 0;
        unsigned count = 0;
        unsigned expected = 0; // for OutOfSequence / CountChanged
    };

    Result check(const unsigned char *message, std::size_t size, unsigned char data[256]);

private:
    unsigned count_ = 0;
    unsigned next_ = 1;
};
