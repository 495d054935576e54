#include "stream_framing.h"

#include <cstring>

namespace stream_framing {

size_t frameUnit(size_t size, Piece (&pieces)[kMaxPieces])
{
    if (size == kShortUnit) {
        pieces[0] = Piece{0, 0, static_cast<uint32_t>(kShortUnit)};
        return 1;
    }
    if (size != kBlockUnit)
        return 0;
    for (size_t k = 0; k < kMaxPieces; ++k) {
        const size_t offset = k * kPieceBytes;
        const size_t length = k + 1 < kMaxPieces ? kPieceBytes : kBlockUnit - offset;
        pieces[k] =
            Piece{kPieceDeltaTicks, static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
    }
    return kMaxPieces;
}

uint32_t unitPlayMicros(size_t size)
{
    Piece pieces[kMaxPieces];
    const size_t count = frameUnit(size, pieces);
    uint32_t ticks = 0;
    for (size_t i = 0; i < count; ++i)
        ticks += pieces[i].deltaTicks;
    return ticks * kTickMicros;
}

static void putWord(unsigned char *at, uint32_t value)
{
    // The stream service reads native little-endian DWORDs.
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value >> 16);
    at[3] = static_cast<unsigned char>(value >> 24);
}

void writeEventBuffer(const Piece &p, const unsigned char *unit,
                      unsigned char (&buffer)[kPieceBufferBytes])
{
    std::memset(buffer, 0, sizeof buffer);
    putWord(buffer, p.deltaTicks);
    putWord(buffer + 4, 0); // stream id
    putWord(buffer + 8, eventWord(p));
    std::memcpy(buffer + kEventHeadBytes, unit + p.offset, p.length);
}

} // namespace stream_framing
