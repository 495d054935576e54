#pragma once

#include "sim_report.h"

#include <cstddef>
#include <cstdint>

// Replies waiting for their frame, in a fixed array (process callback only).
class ReplyQueue
{
public:
    static constexpr std::size_t kCapacity = 64;
    static constexpr std::size_t kMaxReply = 8;

    struct Reply
    {
        std::uint32_t due = 0; // absolute frame
        ReplyKind kind = VersionReply;
        std::size_t size = 0;
        unsigned char bytes[kMaxReply] = {};
    };

    // False when full (the reply is dropped).
    bool push(const Reply &reply);

    // Writes every reply due before cycleStart + nframes, oldest first, at its
    // offset in the cycle (0 when overdue). write(offset, bytes, size) returns
    // false when the port buffer is full; that reply and the rest wait for the
    // next cycle. sent(reply) is called for each written one.
    template <typename Write, typename Sent>
    void emitDue(std::uint32_t cycleStart, std::uint32_t nframes, Write write, Sent sent)
    {
        std::uint32_t lastOffset = 0;
        while (count_ > 0) {
            const Reply &r = items_[head_];
            const auto ahead = static_cast<std::int32_t>(r.due - cycleStart);
            if (ahead >= static_cast<std::int32_t>(nframes))
                return;
            std::uint32_t offset = ahead > 0 ? std::uint32_t(ahead) : 0;
            // Events in a JACK buffer must not go back in time.
            if (offset < lastOffset)
                offset = lastOffset;
            if (!write(offset, r.bytes, r.size))
                return;
            lastOffset = offset;
            sent(r);
            head_ = (head_ + 1) % kCapacity;
            --count_;
        }
    }

    std::size_t size() const { return count_; }
    void clear() { count_ = 0; }

private:
    Reply items_[kCapacity];
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};
