#include "messages.h"

#include <algorithm>
#include <limits>

std::array<unsigned char, kVersionRequestSize> buildVersionRequest(int deviceId)
{
    return {kSysexStart, static_cast<unsigned char>(deviceId & 0xFF), kVersionCommand, kSysexEnd};
}

void buildDataBlockMessage(DataBlockBuffer &buffer, int deviceId, unsigned blockNumber,
                           unsigned blockCount, const unsigned char *data, std::size_t n)
{
    buffer[0] = kSysexStart;
    buffer[1] = static_cast<unsigned char>(deviceId & 0xFF);
    buffer[2] = kDataBlockCommand;
    buffer[3] = static_cast<unsigned char>((blockNumber >> 7) & 0x7F);
    buffer[4] = static_cast<unsigned char>(blockNumber & 0x7F);
    buffer[5] = static_cast<unsigned char>((blockCount >> 7) & 0x7F);
    buffer[6] = static_cast<unsigned char>(blockCount & 0x7F);
    buffer[7] = 0x01;
    if (data == nullptr)
        n = 0;
    n = std::min(n, kBlockDataSize);
    for (std::size_t k = 0; k < n; ++k) {
        buffer[kFirstPairOffset + 2 * k] = static_cast<unsigned char>((data[k] >> 7) & 0x01);
        buffer[kFirstPairOffset + 2 * k + 1] = static_cast<unsigned char>(data[k] & 0x7F);
    }
    buffer[kDataBlockEndOffset] = kSysexEnd;
    buffer[kDataBlockEndOffset + 1] = 0x00;
    buffer[kDataBlockEndOffset + 2] = 0x00;
    buffer[kDataBlockEndOffset + 3] = 0x00;
}

unsigned blockCountForSize(std::int64_t size)
{
    if (size <= 0)
        return 0;
    const std::uint64_t blocks = (std::uint64_t(size) + kBlockDataSize - 1) / kBlockDataSize;
    constexpr std::uint64_t most = std::numeric_limits<unsigned>::max();
    return static_cast<unsigned>(std::min(blocks, most));
}
