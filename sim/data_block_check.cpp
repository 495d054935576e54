#include "data_block_check.h"

namespace {
constexpr std::size_t kMessageSize = 521;
constexpr std::size_t kFirstPair = 8;
} // namespace

DataBlockCheck::Result DataBlockCheck::check(const unsigned char *message, std::size_t size,
                                             unsigned char data[256])
{
    Result r;
    if (size != kMessageSize || message[kMessageSize - 1] != 0xF7) {
        r.error = FramingError::BadLength;
        return r;
    }
    r.number = (unsigned(message[3]) << 7) | message[4];
    r.count = (unsigned(message[5]) << 7) | message[6];
    if (message[7] != 0x01) {
        r.error = FramingError::BadConstant;
        return r;
    }
    for (std::size_t k = 0; k < 256; ++k) {
        const unsigned char high = message[kFirstPair + 2 * k];
        if (high > 1) {
            r.error = FramingError::BadPair;
            return r;
        }
        data[k] = static_cast<unsigned char>((high << 7) | message[kFirstPair + 2 * k + 1]);
    }
    if (r.number == 0) {
        r.error = FramingError::BlockNumberZero;
        return r;
    }
    if (r.number > r.count) {
        r.error = FramingError::BlockBeyondCount;
        return r;
    }
    // After a wrong block the sequence follows the sender, so that one gap or
    // one bad count is one error, not one per block after it.
    if (r.number == 1) {
        count_ = r.count;
    } else if (count_ == 0) {
        // No block 1 yet: the upload's start is missing.
        r.error = FramingError::OutOfSequence;
        r.expected = 1;
        return r;
    } else if (r.count != count_) {
        r.error = FramingError::CountChanged;
        r.expected = count_;
        next_ = r.number + 1;
        return r;
    } else if (r.number != next_) {
        r.error = FramingError::OutOfSequence;
        r.expected = next_;
        next_ = r.number + 1;
        return r;
    }
    next_ = r.number + 1;
    r.ok = true;
    return r;
}
