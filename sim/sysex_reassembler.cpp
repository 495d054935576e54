#include "sysex_reassembler.h"

namespace {
constexpr unsigned char kStart = 0xF0;
constexpr unsigned char kEnd = 0xF7;
constexpr unsigned char kDataBlockCommand = 0x01;
constexpr int kPaddingBytes = 3;
} // namespace

void SysexReassembler::feed(const unsigned char *data, std::size_t size, Listener &listener)
{
    if (data == nullptr)
        return;
    for (std::size_t i = 0; i < size; ++i)
        feedByte(data[i], listener);
}

void SysexReassembler::feedByte(unsigned char byte, Listener &listener)
{
    if (byte == kStart) {
        if (state_ == InMessage)
            listener.error(FramingError::StartInsideMessage);
        else if (state_ == Padding)
            listener.error(FramingError::PaddingMissing);
        state_ = InMessage;
        buffer_[0] = byte;
        length_ = 1;
        return;
    }
    switch (state_) {
    case Idle:
        listener.error(FramingError::StrayBytes);
        state_ = Skipping; // one report per run of stray bytes
        return;
    case Skipping:
        return;
    case Padding:
        if (byte != 0x00) {
            listener.error(FramingError::PaddingNotZero);
            state_ = Skipping;
        } else if (++paddingSeen_ == kPaddingBytes) {
            state_ = Idle;
        }
        return;
    case InMessage:
        if (length_ == kMaxMessage) {
            listener.error(FramingError::MessageTooLong);
            state_ = Skipping;
            return;
        }
        buffer_[length_++] = byte;
        if (byte == kEnd) {
            const bool padded = length_ > 2 && buffer_[2] == kDataBlockCommand;
            state_ = padded ? Padding : Idle;
            paddingSeen_ = 0;
            listener.message(buffer_, length_);
        }
        return;
    }
}
