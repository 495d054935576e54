#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Byte layout of the two messages sent to the instrument and the two replies.
constexpr unsigned char kSysexStart = 0xF0;
constexpr unsigned char kSysexEnd = 0xF7;
constexpr unsigned char kVersionCommand = 0x15;
constexpr unsigned char kDataBlockCommand = 0x01;
constexpr unsigned char kAcknowledgementCommand = 0x05;

constexpr std::size_t kVersionRequestSize = 4;
constexpr std::size_t kVersionReplySize = 7;
constexpr std::size_t kAcknowledgementSize = 4;
constexpr std::size_t kDataBlockMessageSize = 524; // 521 bytes of SysEx + 3 zero bytes
constexpr std::size_t kBlockDataSize = 256;
constexpr std::size_t kDataBlockEndOffset = 520; // where the 0xF7 sits
constexpr std::size_t kFirstPairOffset = 8;
// Block number and count travel as two 7-bit bytes each.
constexpr unsigned kMaxBlockCount = 16383;
constexpr std::int64_t kMaxImageSize = std::int64_t(kMaxBlockCount) * std::int64_t(kBlockDataSize);

using DataBlockBuffer = std::array<unsigned char, kDataBlockMessageSize>;

// F0 id 15 F7.
std::array<unsigned char, kVersionRequestSize> buildVersionRequest(int deviceId);

// Writes offsets 0..7, the pairs for data[0..n-1] and offsets 520..523 of the
// upload's buffer. Pairs n..255 keep what the previous block left there, so a
// caller starts each upload with a zeroed buffer (every byte stays below 0x80).
// n above 256 is cut to 256; only the low 14 bits of number and count are sent.
void buildDataBlockMessage(DataBlockBuffer &buffer, int deviceId, unsigned blockNumber,
                           unsigned blockCount, const unsigned char *data, std::size_t n);

// Number of 256-byte blocks for an image of size bytes (rounded up); 0 for an
// empty or negative size. Very large sizes saturate instead of wrapping.
unsigned blockCountForSize(std::int64_t size);
