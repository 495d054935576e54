#include "reply_flags.h"

#include <atomic>
#include <cstdint>

namespace {
std::atomic<bool> acknowledgementFlag{false};
// The three version bytes and the version flag in one word, so that a reader
// that sees the flag sees that reply's bytes with it: they cannot be
// published apart.
constexpr std::uint32_t kVersionFlag = 1u << 24;
std::atomic<std::uint32_t> versionWord{0};

std::uint32_t packed(unsigned char a, unsigned char b, unsigned char c)
{
    return (std::uint32_t{a} << 16) | (std::uint32_t{b} << 8) | c;
}
} // namespace

void clearAcknowledgement()
{
    acknowledgementFlag.store(false, std::memory_order_release);
}

bool acknowledgementReceived()
{
    return acknowledgementFlag.load(std::memory_order_acquire);
}

void raiseAcknowledgement()
{
    acknowledgementFlag.store(true, std::memory_order_release);
}

void clearVersionReceived()
{
    versionWord.fetch_and(~kVersionFlag, std::memory_order_acq_rel);
}

bool versionReceived()
{
    return (versionWord.load(std::memory_order_acquire) & kVersionFlag) != 0;
}

void storeVersionReply(unsigned char a, unsigned char b, unsigned char c)
{
    versionWord.store(packed(a, b, c) | kVersionFlag, std::memory_order_release);
}

std::array<unsigned char, 3> versionBytes()
{
    const std::uint32_t word = versionWord.load(std::memory_order_acquire);
    return {static_cast<unsigned char>(word >> 16), static_cast<unsigned char>(word >> 8),
            static_cast<unsigned char>(word)};
}

void setVersionBytes(unsigned char a, unsigned char b, unsigned char c)
{
    std::uint32_t word = versionWord.load(std::memory_order_relaxed);
    while (!versionWord.compare_exchange_weak(word, (word & kVersionFlag) | packed(a, b, c),
                                              std::memory_order_acq_rel))
        ;
}
