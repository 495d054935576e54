#pragma once

#include "framing_error.h"

#include <cstddef>

// Rebuilds SysEx messages from raw MIDI events however they were cut: F0
// starts a message, F7 ends it, and a data block message (command 0x01) is
// followed by three zero bytes of padding, which may come in a later event.
// Fixed storage, no allocation: runs in the process callback.
class SysexReassembler
{
public:
    static constexpr std::size_t kMaxMessage = 521; // a data block up to its F7

    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void message(const unsigned char *bytes, std::size_t size) = 0;
        virtual void error(FramingError error) = 0;
    };

    void feed(const unsigned char *data, std::size_t size, Listener &listener);
    // True while a message or its padding is incomplete.
    bool midMessage() const { return state_ == InMessage || state_ == Padding; }

private:
    enum State
    {
        Idle,
        InMessage,
        Padding,
        Skipping // after an error, until the next F0
    };

    void feedByte(unsigned char byte, Listener &listener);

    State state_ = Idle;
    std::size_t length_ = 0;
    int paddingSeen_ = 0;
    unsigned char buffer_[kMaxMessage] = {};
};
