#include "reply_flags.h"

#include <atomic>

namespace {
std::atomic<bool> acknowledgementFlag{false};
std::atomic<bool> versionFlag{false};
std::atomic<unsigned char> version0{0};
std::atomic<unsigned char> version1{0};
std::atomic<unsigned char> version2{0};
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
    versionFlag.store(false, std::memory_order_release);
}

bool versionReceived()
{
    return versionFlag.load(std::memory_order_acquire);
}

void storeVersionReply(unsigned char a, unsigned char b, unsigned char c)
{
    // The bytes first: the release store of the flag publishes them.
    version0.store(a, std::memory_order_relaxed);
    version1.store(b, std::memory_order_relaxed);
    version2.store(c, std::memory_order_relaxed);
    versionFlag.store(true, std::memory_order_release);
}

std::array<unsigned char, 3> versionBytes()
{
    // Callers have read the flag (acquire) before, which makes the bytes of
    // that reply visible here.
    return {version0.load(std::memory_order_acquire), version1.load(std::memory_order_acquire),
            version2.load(std::memory_order_acquire)};
}

void setVersionBytes(unsigned char a, unsigned char b, unsigned char c)
{
    version0.store(a, std::memory_order_relaxed);
    version1.store(b, std::memory_order_relaxed);
    version2.store(c, std::memory_order_relaxed);
}
